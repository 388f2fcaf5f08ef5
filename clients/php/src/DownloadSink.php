<?php
declare(strict_types=1);

namespace Vexlink;

/**
 * Writes a download to a file or a caller's stream as it arrives, decoding hexadecimal lines
 * when asked; only a partial hex line is held back. @internal
 */
final class DownloadSink
{
    private string $partial = '';
    /** @var resource */
    private $fh;
    private bool $ownsStream;
    public int $written = 0;

    /** @param string|resource $to a path (created or truncated) or a writable stream */
    public function __construct(mixed $to, private readonly bool $decodeHex, private readonly string $request)
    {
        if (is_resource($to)) {
            $this->fh = $to;
            $this->ownsStream = false;
            return;
        }
        if (!is_string($to) || $to === '') {
            throw new InvalidArgumentException('a download goes to a path or a stream');
        }
        $fh = @fopen($to, 'wb');
        if ($fh === false) {
            throw new InvalidArgumentException("cannot write the download to $to");
        }
        $this->fh = $fh;
        $this->ownsStream = true;
    }

    public function write(string $chunk): void
    {
        if ($this->decodeHex) {
            $chunk = $this->partial . $chunk;
            $cut = strrpos($chunk, "\n");
            if ($cut === false) {
                $this->partial = $chunk;
                return;
            }
            $this->partial = substr($chunk, $cut + 1);
            $out = '';
            foreach (explode("\n", substr($chunk, 0, $cut)) as $line) {
                $bin = @hex2bin($line);
                if ($bin === false) {
                    throw new TransferFailedException($this->request,
                        'a line of the hex download is not hexadecimal: ' . substr($line, 0, 40));
                }
                $out .= $bin . "\n";
            }
            $chunk = $out;
        }
        if ($chunk !== '' && fwrite($this->fh, $chunk) !== strlen($chunk)) {
            throw new TransferFailedException($this->request, 'the download could not be written completely');
        }
        $this->written += strlen($chunk);
    }

    public function finish(): void
    {
        if ($this->partial !== '') {
            throw new TransferFailedException($this->request, 'the hex download ends inside a line');
        }
        if (!fflush($this->fh)) {
            throw new TransferFailedException($this->request, 'the download could not be written completely');
        }
    }

    public function close(): void
    {
        if ($this->ownsStream && is_resource($this->fh)) {
            fclose($this->fh);
        }
    }
}
