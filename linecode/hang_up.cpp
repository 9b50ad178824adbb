// SPDX-License-Identifier: GPL-3.0-or-later
#include "hang_up.h"

#include <poll.h>

bool lineHungUp(qintptr handle)
{
    pollfd device{int(handle), POLLIN, 0};
    return ::poll(&device, 1, 0) > 0 && (device.revents & (POLLHUP | POLLERR | POLLNVAL));
}
