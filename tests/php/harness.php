<?php
// Test harness of the PHP client: starts the host emulator on a free loopback port, writes
// an INI file for vexlink into a scratch directory, hands out clients, and removes it all.
declare(strict_types=1);

require_once __DIR__ . '/../../clients/php/vexlink.php';

use Vexlink\Client;

final class TestFailure extends RuntimeException
{
}

function check(bool $condition, string $what): void
{
    if (!$condition) {
        throw new TestFailure($what);
    }
}

function checkSame(mixed $expected, mixed $actual, string $what): void
{
    if ($expected !== $actual) {
        throw new TestFailure($what . "\n  expected: " . var_export($expected, true)
            . "\n  actual:   " . var_export($actual, true));
    }
}

/** Runs $fn and gives the exception of class $class it throws; fails when it throws none. */
function expectThrow(string $class, callable $fn, string $what): Throwable
{
    try {
        $fn();
    } catch (Throwable $e) {
        if ($e instanceof $class) {
            return $e;
        }
        throw new TestFailure("$what: expected $class, got " . get_class($e) . ': ' . $e->getMessage());
    }
    throw new TestFailure("$what: expected $class, nothing was thrown");
}

final class Env
{
    public const USER = 'VEXUSR1';
    public const PASSWORD = 'VEXPWD1';

    public string $dir;
    public int $port = 0;
    /** @var resource|null */
    private $emu = null;
    /** @var list<Client> */
    private array $clients = [];

    /**
     * @param array $paths 'vexlink', 'hostemu', 'sample' (the emulator's sample directory)
     * @param list<string> $emuArgs further emulator options (fault switches)
     */
    public function __construct(public readonly array $paths, array $emuArgs = [], bool $startEmulator = true)
    {
        $this->dir = sys_get_temp_dir() . '/vexlink-php-' . getmypid() . '-' . bin2hex(random_bytes(3));
        if (!mkdir($this->dir, 0700)) {
            throw new RuntimeException("cannot create {$this->dir}");
        }
        if ($startEmulator) {
            $this->startEmulator($emuArgs);
        }
    }

    private function startEmulator(array $emuArgs): void
    {
        $argv = array_merge([$this->paths['hostemu'], '-c', $this->paths['sample'] . '/hostemu.ini', '-p', '0'], $emuArgs);
        $pipes = [];
        $this->emu = proc_open($argv, [0 => ['file', '/dev/null', 'r'], 1 => ['pipe', 'w'],
            2 => ['file', $this->dir . '/hostemu.err', 'w']], $pipes);
        if (!is_resource($this->emu)) {
            throw new RuntimeException('cannot start the host emulator');
        }
        // The emulator prints its port on the first line.
        stream_set_timeout($pipes[1], 20);
        $line = (string)fgets($pipes[1]);
        fclose($pipes[1]);
        $this->port = (int)trim($line);
        if ($this->port <= 0) {
            throw new RuntimeException('the host emulator did not report its port: '
                . @file_get_contents($this->dir . '/hostemu.err'));
        }
    }

    /** Writes an INI file for vexlink; $extra adds or replaces keys by section. */
    public function ini(array $extra = [], string $name = 'vexlink.ini'): string
    {
        $sections = [
            'GLOBAL' => ['TEMP_PATH' => $this->dir],
            'TCP' => ['IP_ADDR' => '127.0.0.1', 'HOST_PORT' => (string)$this->port, 'USERID' => self::USER,
                'MEMBER' => 'VEXSTC', 'TCPCRYPT' => '1'],
            'FTP' => ['T0' => '20'],
            'SQLITE' => ['DBNAME' => 'vexlink.db'],
        ];
        foreach ($extra as $section => $keys) {
            foreach ($keys as $k => $v) {
                if ($v === null) {
                    unset($sections[$section][$k]);
                } else {
                    $sections[$section][$k] = $v;
                }
            }
        }
        $text = '';
        foreach ($sections as $section => $keys) {
            $text .= "[$section]\n" . implode('', array_map(fn($k, $v) => "$k=$v\n", array_keys($keys), $keys));
        }
        return $this->write($name, $text);
    }

    public function client(array $options = [], array $iniExtra = []): Client
    {
        $c = new Client($options + [
            'exe' => $this->paths['vexlink'],
            'ini' => $this->ini($iniExtra),
            'cwd' => $this->dir,
            'timeout' => 30,
            'startTimeout' => 30,
        ]);
        $this->clients[] = $c;
        return $c;
    }

    /** A started client of the demonstration user. */
    public function started(array $options = [], array $iniExtra = []): Client
    {
        $c = $this->client($options, $iniExtra);
        $c->start(self::PASSWORD);
        return $c;
    }

    /** Lets go of a client, so that dropping the caller's reference destroys it. */
    public function release(Client $c): void
    {
        $this->clients = array_values(array_filter($this->clients, fn($x) => $x !== $c));
    }

    public function write(string $name, string $content): string
    {
        $path = $this->dir . '/' . $name;
        file_put_contents($path, $content);
        return $path;
    }

    /** The lines of a file of the emulator's sample catalogue. */
    public function seedLines(string $name): array
    {
        $text = file_get_contents($this->paths['sample'] . '/seed/' . $name);
        return explode("\n", rtrim(str_replace("\r\n", "\n", $text), "\n"));
    }

    /** @var list<string> what the stopped emulators wrote, shown when a test fails */
    public static array $emulatorLogs = [];

    public function stop(): void
    {
        if ($this->emu !== null) {
            self::$emulatorLogs[] = (string)@file_get_contents($this->dir . '/hostemu.err');
        }
        foreach ($this->clients as $c) {
            if ($c->running()) {
                $c->abort();
            }
        }
        $this->clients = []; // destructors clean the work directories
        gc_collect_cycles();
        if ($this->emu !== null) {
            proc_terminate($this->emu, 15);
            $deadline = microtime(true) + 5;
            while (proc_get_status($this->emu)['running'] && microtime(true) < $deadline) {
                usleep(20000);
            }
            if (proc_get_status($this->emu)['running']) {
                proc_terminate($this->emu, 9);
            }
            proc_close($this->emu);
            $this->emu = null;
        }
        self::removeTree($this->dir);
    }

    private static function removeTree(string $dir): void
    {
        foreach (is_dir($dir) ? array_diff(scandir($dir), ['.', '..']) : [] as $e) {
            is_dir("$dir/$e") && !is_link("$dir/$e") ? self::removeTree("$dir/$e") : @unlink("$dir/$e");
        }
        @rmdir($dir);
    }
}

/** Runs $body with a fresh environment, stopped whatever happens. */
function withEnv(array $paths, array $emuArgs, callable $body, bool $startEmulator = true): void
{
    $env = new Env($paths, $emuArgs, $startEmulator);
    try {
        $body($env);
    } finally {
        $env->stop();
    }
}

// A warning or notice in the client is a fault: make it fail the test.
set_error_handler(function (int $no, string $msg, string $file, int $line): bool {
    if (!(error_reporting() & $no)) {
        return false; // silenced with @ on purpose
    }
    throw new ErrorException($msg, 0, $no, $file, $line);
});
