<?php
declare(strict_types=1);

namespace Vexlink;

/**
 * A submitted job. After Client::submit() with $wait, $ended is true and the completion
 * is known: a condition code ($conditionCode), a JCL error ($jclError) or an abend
 * ($abendCode, "S0C7" or "U0100"); $output holds the job's output by DD
 * ("JESMSGLG", "STEP1.SYSPRINT", ...).
 */
final class Job
{
    public bool $ended = false;
    /** The completion as the host's job list shows it ("CC 0000", "JCL ERROR", "ABEND S0C7"). */
    public ?string $completion = null;
    public ?int $conditionCode = null;
    public bool $jclError = false;
    public ?string $abendCode = null;
    /** @var array<string,string> output text by DD, in the order the host lists it */
    public array $output = [];

    public function __construct(
        public readonly string $jobId,
        public readonly string $jobName,
        /** The host's message for the submission (its HPMSG text). */
        public readonly string $message,
    ) {
    }

    /**
     * Takes a completion text apart. Gives false when the text is none of
     * "CC nnnn", "JCL ERROR", "ABEND Sxxx" or "ABEND Unnnn".
     */
    public function setCompletion(string $text): bool
    {
        $text = trim($text);
        $this->completion = $text;
        $this->conditionCode = null;
        $this->jclError = false;
        $this->abendCode = null;
        if (preg_match('/^CC\s+(\d{1,4})$/', $text, $m)) {
            $this->conditionCode = (int)$m[1];
        } elseif ($text === 'JCL ERROR') {
            $this->jclError = true;
        } elseif (preg_match('/^ABEND\s+([SU][0-9A-F]{3,4})$/', $text, $m)) {
            $this->abendCode = $m[1];
        } else {
            return false;
        }
        $this->ended = true;
        return true;
    }

    /** True when the job ended with condition code 0. */
    public function succeeded(): bool
    {
        return $this->ended && $this->conditionCode === 0;
    }
}
