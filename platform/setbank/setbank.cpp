// The platform's configuration library. It holds no settings yet; starting
// and stopping it are kept so programs keep their start-up order.
#include "store/keyward.h"

extern "C" {

int setbank_start(void) {
    return 0;
}

int setbank_stop(void) {
    return 0;
}

}  // extern "C"
