#include "core/machine/MachineState.h"

bool MachineState::layerPassAgrees() const
{
    return z && layerPass.z && *layerPass.z == *z && !relativeXyz && !layerPass.relativeXyz && layerPass.e == e &&
           layerPass.relativeE == relativeE;
}

std::optional<double> MachineState::activeTarget() const
{
    const auto found = toolTargets.find(tool);
    if (found == toolTargets.end())
        return std::nullopt;
    return found->second;
}
