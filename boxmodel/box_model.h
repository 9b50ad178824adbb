// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "boxprotocol/command_set.h"

#include <string>

// What a switch box does with one command (without its carriage return): it changes its state
// and may answer. The answer ends with a carriage return; an empty answer means silence. An OTRSP
// box plays the protocol's reference device: it answers its queries, keeps the low 4 bits of an
// aux value, and once a host has switched its events on it reports every change of its focus,
// by command or by its front panel, as "$TX2" and the like.
class BoxModel {
public:
    explicit BoxModel(Protocol set) : set_(set) {}

    std::string handle(const std::string& command);
    // The front panel's switches: a focus word of the set ("TX2", "RX1S", "RX2S"). The box
    // changes without a command and says so when its events are on; an unknown word does nothing.
    std::string panel(const std::string& word);
    // Power off and on again: TX1, RX1, aux 0, events off.
    void powerCycle() { *this = BoxModel(set_); }

    static constexpr const char* Version = "1.2";
    static constexpr const char* Name = "ZephrinSim";

private:
    std::string otrsp(const std::string& command);
    std::string mk2r(const std::string& command);
    // Puts the focus at the change; its event when that kind of event is on.
    std::string take(StateChange change);
    std::string event(Output output) const;

    Protocol set_;
    int tx_ = 1;
    Receive rx_ = Receive::Radio1;
    int aux_[2] = {0, 0};
    bool txEvents_ = false;
    bool rxEvents_ = false;
};
