<?php
declare(strict_types=1);

namespace Vexlink;

/**
 * One line of a member list (PHGPODIRF), taken apart. With ISPF statistics the line has nine
 * fields: Name VV.MM Created Changed Time Size Init Mod Id. Members of load libraries
 * (RECFM U) have none: the line is the name alone and the statistics are null.
 */
final class Member
{
    public function __construct(
        public readonly string $name,
        public readonly ?int $version,
        public readonly ?int $modification,
        public readonly ?\DateTimeImmutable $created,
        /** Date and minute of the last change. */
        public readonly ?\DateTimeImmutable $changed,
        /** Current number of records. */
        public readonly ?int $size,
        public readonly ?int $initialSize,
        public readonly ?int $modifiedRecords,
        /** The user who changed it last. */
        public readonly ?string $userId,
        /** The line as the host sent it. */
        public readonly string $raw,
    ) {
    }

    public function hasStatistics(): bool
    {
        return $this->version !== null;
    }

    /** Takes a list line apart; null when it is neither a name alone nor nine fields. */
    public static function fromLine(string $line): ?self
    {
        $f = preg_split('/\s+/', trim($line));
        if (count($f) === 1 && $f[0] !== '') {
            return new self($f[0], null, null, null, null, null, null, null, null, $line);
        }
        if (count($f) !== 9 || !preg_match('/^(\d\d)\.(\d\d)$/', $f[1], $vm)
            || !ctype_digit($f[5]) || !ctype_digit($f[6]) || !ctype_digit($f[7])) {
            return null;
        }
        $created = \DateTimeImmutable::createFromFormat('!Y/m/d', $f[2]);
        $changed = \DateTimeImmutable::createFromFormat('!Y/m/d H:i', $f[3] . ' ' . $f[4]);
        if ($created === false || $changed === false) {
            return null;
        }
        return new self($f[0], (int)$vm[1], (int)$vm[2], $created, $changed, (int)$f[5], (int)$f[6], (int)$f[7],
            $f[8], $line);
    }
}
