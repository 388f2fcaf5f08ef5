<?php
declare(strict_types=1);

namespace Vexlink;

/**
 * Reads a vexlink INI file by the same rules as the program, so that the client
 * finds the database and the download directory exactly where the program puts them:
 * lines of at most 255 bytes, ";", "#", "*" and "//" comments at the start of a line only,
 * "[SECTION]" lines, keys "SECTION.NAME", values trimmed of blanks and then of double
 * quotes, empty values ignored, and the first occurrence of a key wins.
 */
final class IniFile
{
    private const WS = " \t\n\r\f\v";

    /** @var array<string,string> */
    private array $values = [];

    public function __construct(public readonly string $path)
    {
        $f = @fopen($path, 'rb');
        if ($f === false) {
            throw new ConfigurationException("INI file can't be read: $path");
        }
        try {
            $section = '';
            while (($line = fgets($f, 256)) !== false) {
                if (str_ends_with($line, "\n")) {
                    $line = substr($line, 0, -1);
                }
                $t = trim($line, self::WS);
                if ($t === '' || str_contains(';#*', $t[0]) || str_starts_with($t, '//')) {
                    continue;
                }
                if ($t[0] === '[' && strlen($t) >= 2 && $t[strlen($t) - 1] === ']') {
                    $section = substr($t, 1, -1);
                }
                $eq = strpos($t, '=');
                if ($eq === false || $eq === 0) {
                    continue;
                }
                $name = substr($t, 0, $eq);
                $value = trim(trim(substr($t, $eq + 1), self::WS), '"');
                if ($value === '') {
                    continue;
                }
                $key = $section === '' ? $name : trim($section, self::WS) . '.' . trim($name, self::WS);
                if (!array_key_exists($key, $this->values)) {
                    $this->values[$key] = $value;
                }
            }
        } finally {
            fclose($f);
        }
    }

    /** The value of a key such as "GLOBAL.TEMP_PATH", or null when the file does not set it. */
    public function get(string $key): ?string
    {
        return $this->values[$key] ?? null;
    }
}
