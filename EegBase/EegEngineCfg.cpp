#include "EegBase/EegEngineCfg.h"

const CEegEngineCfg& GetEegEngineCfg() {
    static const CEegEngineCfg cfg;
    return cfg;
}
