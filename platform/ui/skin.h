// The bitmaps of a skin, loaded by id from a folder ("131.png" for bitmap 131) at run
// time, so that a skin can be replaced without rebuilding the launcher.
#pragma once

#include <map>
#include <memory>
#include <string>

namespace platform::ui {

class Skin {
  public:
    // Loads every "<id>.png" and named picture of `nativeFolder`; pictures that do not
    // load are left out (the widgets draw nothing for them). Never fails.
    static std::shared_ptr<Skin> Load(const std::string& nativeFolder);
    ~Skin();
    Skin(const Skin&) = delete;
    Skin& operator=(const Skin&) = delete;

    bool Has(int id) const { return byId_.count(id) != 0; }
    int Width(int id) const;
    int Height(int id) const;
    // The picture as a cairo image surface (cairo_surface_t*), or nullptr.
    void* Surface(int id) const;
    void* Surface(const std::string& name) const;  // "warning" for "warning.png"
    const std::string& folder() const { return folder_; }

  private:
    Skin() = default;
    std::string folder_;
    std::map<int, void*> byId_;
    std::map<std::string, void*> byName_;
};

}  // namespace platform::ui
