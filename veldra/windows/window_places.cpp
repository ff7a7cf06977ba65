#include "veldra/windows/window_places.h"

#include "common/file_utils.h"

#include <QByteArray>
#include <QScreen>
#include <QWidget>
#include <algorithm>
#include <fstream>
#include <sstream>
#include <vector>

namespace {

struct Line {
    std::string name;
    std::string value;
};

std::vector<Line> ReadLines(const std::string& path) {
    std::vector<Line> lines;
    std::ifstream in(path);
    std::string text;
    while (std::getline(in, text)) {
        const size_t comma = text.find(',');
        if (comma != std::string::npos)
            lines.push_back({text.substr(0, comma), text.substr(comma + 1)});
    }
    return lines;
}

std::string PathIn(const std::string& settingsFolder) {
    return JoinPath(settingsFolder, kWindowPlacesFileName);
}

} // namespace

bool RestoreWindowPlace(QWidget* window, const std::string& settingsFolder,
                        const std::string& name) {
    for (const Line& line : ReadLines(PathIn(settingsFolder)))
        if (line.name == name)
            // restoreGeometry keeps the window on a screen that is there now.
            return window->restoreGeometry(
                QByteArray::fromBase64(QByteArray::fromStdString(line.value)));
    return false;
}

void StoreWindowPlace(const QWidget* window, const std::string& settingsFolder,
                      const std::string& name) {
    std::vector<Line> lines = ReadLines(PathIn(settingsFolder));
    const std::string value = window->saveGeometry().toBase64().toStdString();
    const auto found =
        std::find_if(lines.begin(), lines.end(), [&](const Line& l) { return l.name == name; });
    if (found != lines.end())
        found->value = value;
    else
        lines.push_back({name, value});
    std::string text;
    for (const Line& line : lines)
        text += line.name + "," + line.value + "\n";
    // A place that cannot be stored costs only the place: the window opens at its default.
    WriteFileAtomically(PathIn(settingsFolder), text, false);
}

QPoint BesidePlace(const QRect& beside, const QSize& size, const QRect& room) {
    constexpr int kGap = 8;
    const QPoint right(beside.right() + 1 + kGap, beside.top());
    if (!room.isValid() || right.x() + size.width() <= room.right() + 1)
        return right;
    const QPoint below(beside.left(), beside.bottom() + 1 + kGap);
    if (below.y() + size.height() <= room.bottom() + 1)
        return below;
    // No room beside it: at the screen's right edge, low enough to leave the neighbour's
    // title bar and its upper third (the folder and Start) free.
    return {std::max(room.left(), room.right() + 1 - size.width()),
            std::min(beside.top() + beside.height() / 3,
                     std::max(room.top(), room.bottom() + 1 - size.height()))};
}

void PlaceBeside(QWidget* window, const QWidget* neighbour) {
    const QScreen* screen = neighbour->screen();
    window->move(BesidePlace(neighbour->frameGeometry(), window->frameGeometry().size(),
                             screen != nullptr ? screen->availableGeometry() : QRect()));
}
