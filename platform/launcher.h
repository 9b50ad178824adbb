// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <functional>

// Opens a document in another program (a help viewer, a text editor) without waiting for it.
class Launcher {
public:
    virtual ~Launcher() = default;
    // Raises RuntimeError 53 naming the file when no program can be started for it.
    virtual void openDocument(const QString& path) = 0;
    // The handler of a later answer: the opener found no program for the document (xdg-open
    // ends with status 3 or 4 then, maybe only after a while). Raised as an event of the
    // window, with the document's path. A launcher that knows at once raises RuntimeError
    // instead and never calls it.
    virtual void onNoViewer(const std::function<void(const QString& path)>& /*handler*/) {}
};
