#pragma once

#include "protocol/QM45Decoder.h"

#include <string>

namespace qm45 {

// One reading as it is recorded: what the decoder made of an accepted frame,
// with the verdict the limits gave it ("pass", "Fail", or empty before the
// first verdict). Whoever judges the reading builds the sample and hands it
// to the recorder; the protocol's own state never carries a verdict.
struct Sample : CurrentReading {
    std::string JudgeText;
};

} // namespace qm45
