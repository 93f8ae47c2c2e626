#include "Platform/StringTable.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace {
struct Entry {
    UINT id;
    const char* text;
};

// Built-in English texts. 90 is a format taking one integer, 114 one integer,
// 1020 one double; the others are plain labels.
const Entry kBuiltIn[] = {
    {83, "Block"},
    {84, "Calibration On"},
    {85, "Calibration Off"},
    {86, "Flash Rate"},
    {87, "Flash Run Start"},
    {88, "Flash Run End"},
    {89, "Photic Run"},
    {90, "Photic Run %d"},
    {91, "Photic Stop"},
    {92, "Photic Run Stop"},
    {93, "Impedance"},
    {94, "High Cut"},
    {95, "Low Cut"},
    {96, "Sensitivity"},
    {97, "Montage"},
    {98, "Notch On"},
    {99, "Notch Off"},
    {100, "Recording Started"},
    {101, "Recording Started at"},
    {102, "Recording Stopped at"},
    {103, "Recording Stopped"},
    {104, "Recording Reference"},
    {105, "Paper Speed"},
    {106, "Timer On"},
    {107, "Timer Off"},
    {108, "Trace Change"},
    {109, "Data Deleted"},
    {110, "Delete Segment"},
    {111, "Save Segment"},
    {112, "Unknown Patient"},
    {113, "Data before the last cut cannot be cut again."},
    {114, "Too many cut files (%d)."},
    {115, "There is no data left to keep."},
    {116, "The event could not be deleted from the log file."},
    {581, "Voice Annotation"},
    {582, "Key Press"},
    {1020, "Battery Low (%.2f V)"},
};

std::mutex g_mutex;
// Host texts; unique_ptr keeps each text's address stable while the map changes.
std::map<UINT, std::unique_ptr<std::string>> g_host;
}  // namespace

const char* AfxLoadString(UINT id) {
    {
        std::lock_guard lock(g_mutex);
        auto it = g_host.find(id);
        if (it != g_host.end())
            return it->second->c_str();
    }
    for (const Entry& e : kBuiltIn) {
        if (e.id == id)
            return e.text;
    }
    return nullptr;
}

void AfxSetString(UINT id, const char* text) {
    std::lock_guard lock(g_mutex);
    if (text) {
        g_host[id] = std::make_unique<std::string>(text);
    } else {
        g_host.erase(id);
    }
}

void AfxResetStringTable() {
    std::lock_guard lock(g_mutex);
    g_host.clear();
}
