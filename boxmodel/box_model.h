// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "boxprotocol/command_set.h"

#include <string>

// What a switch box does with one command (without its carriage return): it changes its state
// and may answer. The answer ends with a carriage return; an empty answer means silence.
class BoxModel {
public:
    explicit BoxModel(Protocol set) : set_(set) {}

    std::string handle(const std::string& command);

    static constexpr const char* Version = "1.2";

private:
    std::string otrsp(const std::string& command);
    std::string mk2r(const std::string& command);

    Protocol set_;
    int tx_ = 1;
    std::string rx_ = "1"; // as the box answers it after "RX": "1", "2", "1S" or "2S"
};
