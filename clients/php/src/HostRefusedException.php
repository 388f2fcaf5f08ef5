<?php
declare(strict_types=1);

namespace Vexlink;

/** The host answered a request with an error: an HPMSG whose return code is not 0. */
class HostRefusedException extends VexlinkException
{
    /**
     * @param string   $request    the request item (PHGETFILE, PHDELETE, ...)
     * @param int|null $returnCode the number after "RC=" in the host's message
     * @param string   $hostText   the host's message as it arrived
     * @param list<array{Id:int,Cmd:string,Data:string,File:string}> $rows every Response row of the exchange
     */
    public function __construct(
        public readonly string $request,
        public readonly ?int $returnCode,
        public readonly string $hostText,
        public readonly array $rows = [],
    ) {
        $rc = $returnCode === null ? 'no return code' : "RC=$returnCode";
        parent::__construct("$request refused by the host ($rc): $hostText");
    }
}
