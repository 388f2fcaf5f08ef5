<?php
declare(strict_types=1);

namespace Vexlink;

/**
 * Follows the download files of one exchange while the program writes them and hands each new
 * piece to a sink, so that a download never sits in memory whole. @internal
 */
final class FileFollower
{
    public int $bytes = 0;
    /** @var list<array{path:string,fh:resource|null,offset:int}> */
    private array $files = [];

    public function add(string $path): void
    {
        foreach ($this->files as $f) {
            if ($f['path'] === $path) {
                return;
            }
        }
        $this->files[] = ['path' => $path, 'fh' => null, 'offset' => 0];
    }

    /** Reads what has been written since the last call; true when something came. */
    public function read(DownloadSink $sink): bool
    {
        $any = false;
        foreach ($this->files as &$f) {
            if ($f['fh'] === null) {
                $fh = @fopen($f['path'], 'rb');
                if ($fh === false) {
                    continue;
                }
                $f['fh'] = $fh;
            }
            fseek($f['fh'], $f['offset']);
            while (($chunk = fread($f['fh'], 1 << 16)) !== false && $chunk !== '') {
                $f['offset'] += strlen($chunk);
                $this->bytes += strlen($chunk);
                $sink->write($chunk);
                $any = true;
            }
        }
        return $any;
    }

    /** @return list<string> files named by the program that could not be opened */
    public function missing(): array
    {
        $out = [];
        foreach ($this->files as $f) {
            if ($f['fh'] === null) {
                $out[] = $f['path'];
            }
        }
        return $out;
    }

    public function close(): void
    {
        foreach ($this->files as &$f) {
            if ($f['fh'] !== null) {
                fclose($f['fh']);
                $f['fh'] = null;
            }
        }
    }
}
