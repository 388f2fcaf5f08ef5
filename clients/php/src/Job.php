<?php
declare(strict_types=1);

namespace Vexlink;

/**
 * A submitted job, read-only. Client::submit() gives it; with wait (or Client::waitForJob())
 * the completion is known and, unless the spool was skipped, the output by DD
 * ("JESMSGLG", "STEP1.SYSPRINT", ...).
 */
final class Job
{
    /** returnCode() of a job that ended with a JCL error. */
    public const JCL_ERROR = -1;
    /** returnCode() of a job that ended with an abend (abendCode() tells which). */
    public const ABEND = -2;

    /**
     * @param string|null          $completion the job list's completion: "CC 0004", "JCL ERROR",
     *                                         "ABEND S0C7", "ABEND U0100"; null while not known
     * @param array<string,string>|null $output output text by DD in the host's order; null when
     *                                         the spool was not fetched
     */
    public function __construct(
        public readonly string $jobId,
        public readonly string $jobName,
        /** The host's message for the submission. */
        public readonly string $message,
        public readonly ?string $completion = null,
        public readonly ?array $output = null,
    ) {
        if ($completion !== null && self::parse($completion) === null) {
            throw new InvalidArgumentException("not a job completion: $completion");
        }
    }

    public function ended(): bool
    {
        return $this->completion !== null;
    }

    /**
     * The one return code of the job: the condition code (0 to 4095) when it ran to its end,
     * Job::JCL_ERROR or Job::ABEND when it did not, null while it has not ended.
     */
    public function returnCode(): ?int
    {
        return $this->completion === null ? null : self::parse($this->completion)[0];
    }

    /** "S0C7" or "U0100" for an abend, else null. */
    public function abendCode(): ?string
    {
        return $this->completion === null ? null : self::parse($this->completion)[1];
    }

    /** True when the job ended with condition code 0. */
    public function succeeded(): bool
    {
        return $this->returnCode() === 0;
    }

    /** @return array{0:int,1:?string}|null */
    private static function parse(string $text): ?array
    {
        $text = trim($text);
        if (preg_match('/^CC\s+(\d{1,4})$/', $text, $m)) {
            return [(int)$m[1], null];
        }
        if ($text === 'JCL ERROR') {
            return [self::JCL_ERROR, null];
        }
        if (preg_match('/^ABEND\s+([SU][0-9A-F]{3,4})$/', $text, $m)) {
            return [self::ABEND, $m[1]];
        }
        return null;
    }
}
