#include "game/gamefunctions.h"

#include "os/os.h"

namespace freeplot {

RefQueueLock::RefQueueLock() { os::enterCriticalSection(ptr<void>(Loc::refQueueLock)); }

RefQueueLock::~RefQueueLock() { os::leaveCriticalSection(ptr<void>(Loc::refQueueLock)); }

}  // namespace freeplot
