<?php
declare(strict_types=1);

namespace Vexlink;

/**
 * One line of a data set list (PHGDSLSTF), taken apart. The host writes the fields of a host
 * FTP server's DIR listing, separated by blanks:
 *   Volume Unit Referred Ext Used Recfm Lrecl BlkSz Dsorg Dsname
 */
final class Dataset
{
    public function __construct(
        public readonly string $name,
        /** PS (sequential) or PO (partitioned). */
        public readonly string $organisation,
        /** F, FB, V, VB, U, with A for ASA control characters. */
        public readonly string $recordFormat,
        public readonly int $recordLength,
        public readonly int $blockSize,
        public readonly string $volume,
        public readonly string $unit,
        /** The date the host shows as "Referred" (last use). */
        public readonly ?\DateTimeImmutable $referred,
        public readonly int $extents,
        public readonly int $usedTracks,
        /** The line as the host sent it. */
        public readonly string $raw,
    ) {
    }

    /** Takes a list line apart; null when it does not have the ten fields. */
    public static function fromLine(string $line): ?self
    {
        $f = preg_split('/\s+/', trim($line));
        if (count($f) !== 10 || !ctype_digit($f[3]) || !ctype_digit($f[4]) || !ctype_digit($f[6])
            || !ctype_digit($f[7])) {
            return null;
        }
        $date = \DateTimeImmutable::createFromFormat('!Y/m/d', $f[2]);
        return new self($f[9], $f[8], $f[5], (int)$f[6], (int)$f[7], $f[0], $f[1], $date ?: null,
            (int)$f[3], (int)$f[4], $line);
    }
}
