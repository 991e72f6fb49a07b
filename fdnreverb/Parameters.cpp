// The descriptors the hosts see, made from the parameter table.
#include "ParameterTable.h"
#include "cReverbCore.h"

namespace nimbo {

void cReverbCore::SetupParameters() {
  for (int32_t i = 0; i < kNumParameters; ++i) {
    const sParameterSpec& spec = kParameterTable[i];
    cParameter& p = m_Parameters[static_cast<size_t>(i)];
    p.shortName = spec.shortName;
    p.longName = spec.longName;
    p.group = spec.group;
    p.groupName = kGroupNames[spec.group];
    p.indexInGroup = spec.indexInGroup;
    p.groupSize = GroupSize(spec.group);
    p.format = spec.format;
    p.siPrefix = spec.siPrefix;
    p.zeroIsOff = spec.zeroIsOff;
    p.unit = spec.unit;
    p.enumNames = spec.enumNames;
    p.SetRange(spec.curve, spec.min, spec.max);
  }
}

}  // namespace nimbo
