<?php
declare(strict_types=1);

namespace Vexlink;

/**
 * The settings of one Client, typed. Build it with named arguments
 * (new ClientOptions(exe: '/usr/bin/vexlink', ini: '/etc/vexlink/vexlink.ini', user: 'VEXUSR1'))
 * or from an array with fromArray(), which refuses keys it does not know.
 */
final class ClientOptions
{
    /**
     * @param string      $exe            path of the vexlink program
     * @param string      $ini            the INI file; it must set GLOBAL.TEMP_PATH and SQLITE.DBNAME
     * @param string|null $workDir        this run's directory below TEMP_PATH (-d), one level;
     *                                    default "run-<pid>-<random>"
     * @param string|null $cwd            working directory of the program (default: PHP's); a relative
     *                                    TEMP_PATH and the paths in Response rows are taken from there
     * @param string|null $host           -A, overrides TCP.IP_ADDR
     * @param int|null    $port           -O, overrides TCP.HOST_PORT
     * @param string|null $user           -U, overrides TCP.USERID
     * @param int|null    $tlsLevel       -S, overrides TCP.TCPTLSSECLEVEL
     * @param bool        $log            -l 1: the run writes its log file
     * @param string|null $logPath        -D: put in front of the log file name (end it with "/")
     * @param float       $timeout        seconds to wait for the answer of one request
     * @param float       $startTimeout   seconds to wait until the host is ready
     * @param float       $closeTimeout   seconds to wait for the end after CLOSE
     * @param int         $pollMs         polling interval of the database
     * @param int         $settleMs       quiet time after a setOptions() answer, which has no end mark
     * @param string|null $downloadFormat 'HEX' or 'TEXT': GLOBAL.DOWNLOAD_FORMAT for this run
     * @param string|null $uploadFormat   'HEX' or 'TEXT': GLOBAL.UPLOAD_FORMAT for this run
     * @param bool        $keepFiles      leave what the program left behind (database, downloads)
     */
    public function __construct(
        public readonly string $exe,
        public readonly string $ini,
        public readonly ?string $workDir = null,
        public readonly ?string $cwd = null,
        public readonly ?string $host = null,
        public readonly ?int $port = null,
        public readonly ?string $user = null,
        public readonly ?int $tlsLevel = null,
        public readonly bool $log = false,
        public readonly ?string $logPath = null,
        public readonly float $timeout = 60.0,
        public readonly float $startTimeout = 60.0,
        public readonly float $closeTimeout = 30.0,
        public readonly int $pollMs = 50,
        public readonly int $settleMs = 300,
        public readonly ?string $downloadFormat = null,
        public readonly ?string $uploadFormat = null,
        public readonly bool $keepFiles = false,
    ) {
        if ($exe === '' || $ini === '') {
            throw new InvalidArgumentException('exe and ini must name files');
        }
        if ($workDir !== null && (!preg_match('/^[A-Za-z0-9._-]+$/', $workDir) || trim($workDir, '.') === '')) {
            throw new InvalidArgumentException("workDir must be one directory name (letters, digits, '.', '_', '-'): "
                . $workDir);
        }
        if ($port !== null && ($port < 1 || $port > 65535)) {
            throw new InvalidArgumentException("port must be 1 to 65535, not $port");
        }
        if ($timeout <= 0 || $startTimeout <= 0 || $closeTimeout <= 0 || $pollMs < 1 || $settleMs < 0) {
            throw new InvalidArgumentException('timeouts and the polling interval must be positive');
        }
        foreach (['downloadFormat' => $downloadFormat, 'uploadFormat' => $uploadFormat] as $name => $v) {
            if ($v !== null && !in_array(strtoupper($v), ['HEX', 'TEXT'], true)) {
                throw new InvalidArgumentException("$name must be 'HEX' or 'TEXT', not '$v'");
            }
        }
        foreach (['host' => $host, 'user' => $user, 'logPath' => $logPath] as $name => $v) {
            if ($v !== null && ($v === '' || str_starts_with($v, '-'))) {
                throw new InvalidArgumentException("$name must not be empty or begin with '-'");
            }
        }
    }

    /**
     * Options from an array with the constructor's parameter names as keys.
     * @param array<string,mixed> $options
     */
    public static function fromArray(array $options): self
    {
        $known = array_map(fn(\ReflectionParameter $p) => $p->getName(),
            (new \ReflectionMethod(self::class, '__construct'))->getParameters());
        foreach (array_keys($options) as $key) {
            if (!in_array($key, $known, true)) {
                throw new InvalidArgumentException("unknown option '$key' (known: " . implode(', ', $known) . ')');
            }
        }
        try {
            return new self(...$options);
        } catch (\TypeError | \ArgumentCountError $e) {
            throw new InvalidArgumentException('bad options: ' . $e->getMessage(), 0, $e);
        }
    }
}
