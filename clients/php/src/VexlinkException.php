<?php
declare(strict_types=1);

namespace Vexlink;

/**
 * Base class of every error the client reports. Catch a subclass to act on the cause:
 * InvalidArgumentException (the caller's values), ConfigurationException (settings or files
 * of the installation), HostRefusedException (the host answered with an error),
 * TransferFailedException (data did not arrive whole, or no answer came), RunEndedException
 * (the vexlink process ended, or never got ready).
 */
abstract class VexlinkException extends \RuntimeException
{
}
