#include "feedback/workers.h"

namespace freeplot {

WorkerBusy workers;

}  // namespace freeplot
