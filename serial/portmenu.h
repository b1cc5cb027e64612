// The Port menu as the serial link sees it: eight items, COM1 to COM8, each
// with a check mark and an enabled state. The window implements it over its
// menu actions; tests record what is done to it.
#pragma once

namespace quorvid {

class PortMenu {
public:
    virtual ~PortMenu() = default;

    // port is 1..8.
    virtual void setPortChecked(int port, bool checked) = 0;
    virtual void setPortEnabled(int port, bool enabled) = 0;
};

// For a program without a Port menu (the terminal monitor): the probe and the
// opening run as they do for the window, with nothing to show.
class NoPortMenu : public PortMenu {
public:
    void setPortChecked(int, bool) override {}
    void setPortEnabled(int, bool) override {}
};

}  // namespace quorvid
