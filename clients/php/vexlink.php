<?php
// Loads the vexlink PHP client without Composer: require_once __DIR__ . '/vexlink.php';
// (With Composer, vendor/autoload.php loads the same classes from src/.)
declare(strict_types=1);

spl_autoload_register(function (string $class): void {
    if (str_starts_with($class, 'Vexlink\\')) {
        $file = __DIR__ . '/src/' . str_replace('\\', '/', substr($class, 8)) . '.php';
        if (is_file($file)) {
            require $file;
        }
    }
});
