#include "refhost/transport.h"

#include <thread>

namespace refhost {

Transport::~Transport() {}

void Transport::pause(std::chrono::milliseconds delay)
{
    if (delay.count() > 0)
        std::this_thread::sleep_for(delay);
}

}  // namespace refhost
