#pragma once

#include "platform/launcher.h"

// Opens documents with the desktop's own program for their type (xdg-open), detached.
class QtLauncher : public Launcher {
public:
    void openDocument(const QString& path) override;
};
