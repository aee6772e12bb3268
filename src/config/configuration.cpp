#include "config/configuration.h"

namespace kairovel {

Configuration& TheConfiguration() {
    static Configuration configuration;
    return configuration;
}

}  // namespace kairovel
