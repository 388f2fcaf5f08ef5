<?php
// A whole session with the PHP client: lists data sets, uploads a file, downloads it back and
// compares, submits a job and shows its id and completion, pings, closes.
//
//   php demo.php VEXLINK_PROGRAM INI_FILE < password-line
//
// The password is read from standard input (one line), never from the command line. Each step
// prints its result; the exit code is 0 only when every step worked.
declare(strict_types=1);

require_once __DIR__ . '/vexlink.php';

use Vexlink\Client;
use Vexlink\ClientOptions;
use Vexlink\Dataset;
use Vexlink\TransferMode;

if ($argc !== 3) {
    fwrite(STDERR, "usage: php demo.php VEXLINK_PROGRAM INI_FILE < password-line\n");
    exit(2);
}
[, $exe, $ini] = $argv;
$password = rtrim((string)fgets(STDIN), "\r\n");

$failures = 0;
$number = 0;
/** Runs one step, prints what it gave, counts failures. */
function step(string $title, callable $fn): mixed
{
    global $failures, $number;
    $number++;
    echo "\n[$number] $title\n";
    try {
        $result = $fn();
        echo "    ok\n";
        return $result;
    } catch (Throwable $e) {
        $failures++;
        echo '    FAILED: ' . get_class($e) . ': ' . $e->getMessage() . "\n";
        return null;
    }
}

function say(string $text): void
{
    echo '    ' . str_replace("\n", "\n    ", rtrim($text, "\n")) . "\n";
}

$scratch = sys_get_temp_dir() . '/vexlink-demo-' . getmypid();
@mkdir($scratch, 0700);
$client = null;

$started = step('Start vexlink and wait until the host is ready', function () use ($exe, $ini, $password, &$client) {
    $client = new Client(new ClientOptions(exe: $exe, ini: $ini, timeout: 30));
    $client->start($password);
    say('vexlink runs as process ' . $client->pid() . '; its database is ' . $client->databasePath());
    return true;
});
if (!$started) {
    echo "\nThe run did not start: nothing more to show.\n";
    exit(1);
}

step('List the data sets VEXUSR1.**', function () use ($client) {
    $sets = $client->listDatasets('VEXUSR1.**');
    say(count($sets) . " data sets:\n" . implode("\n", array_map(fn(Dataset $d) => sprintf('%-22s %s %-3s %5d %s',
        $d->name, $d->organisation, $d->recordFormat, $d->recordLength, $d->volume), $sets)));
    if (!$sets) {
        throw new RuntimeException('the list is empty');
    }
});

$local = $scratch . '/orders.txt';
$content = '';
for ($i = 1; $i <= 250; $i++) {
    $content .= sprintf("ORDER %06d  ITEM %-12s QTY %4d  PRICE %8.2f\n", $i, 'PART-' . ($i * 7 % 997), $i % 40 + 1,
        $i * 1.25);
}
file_put_contents($local, $content);

step('Upload a local file of 250 lines to VEXUSR1.DEMO.ORDERS', function () use ($client, $local) {
    say('host: ' . $client->upload($local, 'VEXUSR1.DEMO.ORDERS', TransferMode::Text, 'RECFM(V,B) LRECL(255)'));
});

step('Download VEXUSR1.DEMO.ORDERS again and compare', function () use ($client, $content, $scratch) {
    $r = $client->download('VEXUSR1.DEMO.ORDERS', "$scratch/orders.back", TransferMode::Text,
        function (?int $records, int $bytes) {
            // While the file grows only the bytes are known; the host's record count comes last.
        });
    say(sprintf('%d records, %d bytes received into %s', $r->records, $r->bytes, $r->path));
    $back = file_get_contents("$scratch/orders.back");
    @unlink("$scratch/orders.back");
    if ($back !== $content) {
        throw new RuntimeException(sprintf('the download differs from the upload (%d bytes sent, %d received)',
            strlen($content), strlen($back)));
    }
    say('identical to the uploaded file, byte for byte');
});

step("Submit the job in 'VEXUSR1.JCL(COPY)' and wait for its end", function () use ($client) {
    $job = $client->submit("'VEXUSR1.JCL(COPY)'", wait: true);
    say("job {$job->jobName} has the id {$job->jobId}; host: {$job->message}");
    say("completion: {$job->completion} (return code {$job->returnCode()}); output by DD: "
        . implode(', ', array_keys($job->output)));
    if (!$job->succeeded()) {
        throw new RuntimeException("the job ended with {$job->completion}");
    }
});

step('Ping the program', function () use ($client) {
    $echo = $client->ping('are you there?');
    say("echo: $echo");
    if ($echo !== 'are you there?') {
        throw new RuntimeException('the echo differs');
    }
});

step('Close the run', function () use ($client) {
    say('exit code ' . $client->close() . ': ' . Client::exitMeaning(0));
});

$client = null; // ends the program if a step left it running
@unlink($local);
@rmdir($scratch);
echo $failures === 0 ? "\nEvery step worked.\n" : "\n$failures step(s) failed.\n";
exit($failures === 0 ? 0 : 1);
