<?php
declare(strict_types=1);

namespace Vexlink;

/**
 * The vexlink process ended (or never got ready) while the client still needed it, or it
 * ended with an exit code other than 0.
 */
class RunEndedException extends VexlinkException
{
    /**
     * @param int|null $exitCode    the process exit code, null when unknown
     * @param int|null $systemValue the last value of the System table (negative: minus the
     *                              conversation library's return code), null when none
     */
    public function __construct(
        string $message,
        public readonly ?int $exitCode,
        public readonly ?int $systemValue = null,
        public readonly string $programOutput = '',
    ) {
        parent::__construct($message);
    }
}
