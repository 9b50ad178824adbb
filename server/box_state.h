// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the server knows of the box: each output known or not, and the box's name. Only the box
// session changes it, from what it sent the box and what the box said.

#include "boxprotocol/command_set.h"

#include <QString>
#include <array>
#include <optional>
#include <vector>

class BoxState {
public:
    static constexpr Output Outputs[] = {Output::Transmit, Output::Receive, Output::Aux1,
                                         Output::Aux2};

    // The transmitting radio, a Receive, or an aux value; none while unknown.
    std::optional<int> of(Output output) const { return values_[std::size_t(output)]; }
    // True when the output was unknown or held another value.
    bool set(StateChange change)
    {
        std::optional<int>& value = values_[std::size_t(change.output)];
        const bool changed = value != change.value;
        value = change.value;
        return changed;
    }
    // Every known output, in the order of Outputs.
    std::vector<StateChange> known() const
    {
        std::vector<StateChange> changes;
        for (const Output output : Outputs)
            if (const auto value = of(output))
                changes.push_back({output, *value});
        return changes;
    }

    QString name; // as the box answers "?NAME"; empty until it has

private:
    std::array<std::optional<int>, 4> values_;
};
