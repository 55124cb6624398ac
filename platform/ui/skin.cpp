#include "platform/ui/skin.h"

#include <cairo.h>
#include <dirent.h>

#include <cstdlib>

namespace platform::ui {
namespace {

// Pictures larger than this are refused: a skin file is not trusted to be sane.
constexpr int kMaxSide = 4096;

cairo_surface_t* LoadPng(const std::string& path) {
    cairo_surface_t* s = cairo_image_surface_create_from_png(path.c_str());
    if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS ||
        cairo_image_surface_get_width(s) > kMaxSide ||
        cairo_image_surface_get_height(s) > kMaxSide) {
        cairo_surface_destroy(s);
        return nullptr;
    }
    return s;
}

}  // namespace

std::shared_ptr<Skin> Skin::Load(const std::string& nativeFolder) {
    std::shared_ptr<Skin> skin(new Skin);
    skin->folder_ = nativeFolder;
    DIR* dir = opendir(nativeFolder.c_str());
    if (dir == nullptr) return skin;
    while (dirent* e = readdir(dir)) {
        const std::string name = e->d_name;
        if (name.size() <= 4 || name.compare(name.size() - 4, 4, ".png") != 0) continue;
        const std::string stem = name.substr(0, name.size() - 4);
        cairo_surface_t* s = LoadPng(nativeFolder + "/" + name);
        if (s == nullptr) continue;
        char* end = nullptr;
        const long id = std::strtol(stem.c_str(), &end, 10);
        if (!stem.empty() && *end == '\0' && id > 0 && id < 100000)
            skin->byId_[static_cast<int>(id)] = s;
        else
            skin->byName_[stem] = s;
    }
    closedir(dir);
    return skin;
}

Skin::~Skin() {
    for (auto& [id, s] : byId_) cairo_surface_destroy(static_cast<cairo_surface_t*>(s));
    for (auto& [name, s] : byName_) cairo_surface_destroy(static_cast<cairo_surface_t*>(s));
}

int Skin::Width(int id) const {
    auto* s = static_cast<cairo_surface_t*>(Surface(id));
    return s ? cairo_image_surface_get_width(s) : 0;
}

int Skin::Height(int id) const {
    auto* s = static_cast<cairo_surface_t*>(Surface(id));
    return s ? cairo_image_surface_get_height(s) : 0;
}

void* Skin::Surface(int id) const {
    auto it = byId_.find(id);
    return it == byId_.end() ? nullptr : it->second;
}

void* Skin::Surface(const std::string& name) const {
    auto it = byName_.find(name);
    return it == byName_.end() ? nullptr : it->second;
}

}  // namespace platform::ui
