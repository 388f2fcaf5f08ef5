<?php
declare(strict_types=1);

namespace Vexlink;

/** Base class of every error the client reports. */
class VexlinkException extends \RuntimeException
{
}

/** The settings handed to the client cannot work (missing keys, bad values, unreadable files). */
class ConfigException extends VexlinkException
{
}

/**
 * The host answered a request with a failure: an HPMSG whose return code is not 0,
 * or an exchange that ended without its closing HPEOD.
 */
class RequestFailedException extends VexlinkException
{
    /**
     * @param string   $request    the request item (PHGETFILE, PHDELETE, ...)
     * @param int|null $returnCode the number after "RC=" in the host's message, null when none
     * @param string   $hostText   the host's message as it arrived
     * @param array    $rows       every Response row of the exchange
     */
    public function __construct(
        public readonly string $request,
        public readonly ?int $returnCode,
        public readonly string $hostText,
        public readonly array $rows = [],
    ) {
        $rc = $returnCode === null ? 'no return code' : "RC=$returnCode";
        parent::__construct("$request failed ($rc): $hostText");
    }
}

/**
 * The vexlink process ended (or could not start a run) while the client still needed it,
 * or it ended with an exit code other than 0.
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

/** An answer did not come within the time the caller allowed. */
class TimeoutException extends VexlinkException
{
}
