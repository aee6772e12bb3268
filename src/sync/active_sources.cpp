#include "sync/active_sources.h"

namespace kairovel {

ActiveSourceTable& ActiveSources() {
    static ActiveSourceTable table;
    return table;
}

}  // namespace kairovel
