<?php
declare(strict_types=1);

namespace Vexlink;

/**
 * A transfer did not complete although the host did not refuse it: the program could not
 * write a download (HPEODFAIL), the exchange ended without its closing HPEOD, a download
 * file could not be read, or a local file could not be written.
 */
class TransferFailedException extends VexlinkException
{
    /** @param list<array{Id:int,Cmd:string,Data:string,File:string}> $rows the rows of the exchange */
    public function __construct(
        public readonly string $request,
        string $message,
        public readonly array $rows = [],
    ) {
        parent::__construct("$request failed: $message");
    }
}
