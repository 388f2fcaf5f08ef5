<?php
declare(strict_types=1);

namespace Vexlink;

/** What a download delivered. */
final class DownloadResult
{
    public function __construct(
        /** Bytes written to the destination. */
        public readonly int $bytes,
        /** The number of records the host reported in its closing HPEOD ("RECORDS=n"), null without one. */
        public readonly ?int $records,
        /** The host's closing text. */
        public readonly string $hostText,
        /** The destination path, null when a stream was given. */
        public readonly ?string $path,
    ) {
    }
}
