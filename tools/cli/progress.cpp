#include "progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace qcli {

namespace {

// A short run shows no line at all: it would only flicker.
constexpr auto first_draw = std::chrono::milliseconds(500);
constexpr auto redraw = std::chrono::milliseconds(200);

// The file's name without its directory, control characters shown as '?'
// so that a name cannot move the cursor.
std::string base_name(const std::string &path) {
    const auto slash = path.rfind('/');
    std::string name = slash == std::string::npos || slash + 1 == path.size() ? path : path.substr(slash + 1);
    for (char &c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    return name;
}

// "45%", or the time read when the length is unknown.
std::string share(const file_progress &f) {
    char text[32];
    if (f.frames > 0) {
        const double percent = 100.0 * static_cast<double>(std::min(f.frames_read, f.frames)) / static_cast<double>(f.frames);
        std::snprintf(text, sizeof text, "%3d%%", static_cast<int>(percent));
    } else {
        std::snprintf(text, sizeof text, "%.0f s", static_cast<double>(f.frames_read) / std::max(1, f.sample_rate));
    }
    return text;
}

std::size_t terminal_width() {
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col >= 20) return size.ws_col;
    return 80;
}

}  // namespace

std::string progress_text(const std::vector<file_progress> &open, std::size_t done, std::size_t files,
                          std::size_t width) {
    std::string text = "quarnelo: ";
    if (open.size() == 1 && open[0].frames > 0) {
        const file_progress &f = open[0];
        constexpr int bar = 24;
        const int filled =
            static_cast<int>(bar * static_cast<double>(std::min(f.frames_read, f.frames)) / static_cast<double>(f.frames));
        text += '[' + std::string(static_cast<std::size_t>(filled), '#') + std::string(static_cast<std::size_t>(bar - filled), '.') +
                "] " + share(f) + ' ' + base_name(f.name);
    } else {
        for (std::size_t i = 0; i < open.size(); ++i)
            text += (i > 0 ? ", " : "") + base_name(open[i].name) + ' ' + share(open[i]);
    }
    if (files > 1) text += (open.empty() ? "" : "; ") + std::to_string(done) + " of " + std::to_string(files) + " files done";
    if (text.size() >= width) text.resize(width - 1);
    return text;
}

progress_display::progress_display(std::size_t files, bool enabled)
    : enabled_(enabled), files_(files), start_(std::chrono::steady_clock::now()) {}

progress_display::~progress_display() {
    std::lock_guard<std::mutex> hold(lock_);
    clear();
}

void progress_display::started(std::size_t file, const std::string &name, uint64_t frames, int sample_rate) {
    if (!enabled_) return;
    std::lock_guard<std::mutex> hold(lock_);
    open_.push_back({file, {name, 0, frames, sample_rate}});
    draw(true);
}

void progress_display::advanced(std::size_t file, uint64_t frames_read) {
    if (!enabled_) return;
    std::lock_guard<std::mutex> hold(lock_);
    for (auto &[index, f] : open_)
        if (index == file) f.frames_read = frames_read;
    draw(false);
}

void progress_display::finished(std::size_t file) {
    if (!enabled_) return;
    std::lock_guard<std::mutex> hold(lock_);
    std::erase_if(open_, [&](const auto &entry) { return entry.first == file; });
    ++done_;
    draw(true);
}

void progress_display::print(const std::string &line) {
    std::lock_guard<std::mutex> hold(lock_);
    clear();
    std::fputs(line.c_str(), stderr);
    draw(true);
}

void progress_display::clear() {
    if (!shown_) return;
    std::fputs("\r\x1b[K", stderr);
    std::fflush(stderr);
    shown_ = false;
}

void progress_display::draw(bool now) {
    if (!enabled_) return;
    const auto t = std::chrono::steady_clock::now();
    if (t - start_ < first_draw || (!now && t - last_ < redraw)) return;
    last_ = t;
    std::vector<file_progress> open;
    for (const auto &entry : open_) open.push_back(entry.second);
    if (open.empty() && done_ >= files_) {
        clear();
        return;
    }
    std::fputs(("\r" + progress_text(open, done_, files_, terminal_width()) + "\x1b[K").c_str(), stderr);
    std::fflush(stderr);
    shown_ = true;
}

}  // namespace qcli
