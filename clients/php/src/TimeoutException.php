<?php
declare(strict_types=1);

namespace Vexlink;

/**
 * An answer did not come within the time the caller allowed. The run is of no more use:
 * late rows could be taken for the next answer, so close() ends it by force.
 */
class TimeoutException extends TransferFailedException
{
}
