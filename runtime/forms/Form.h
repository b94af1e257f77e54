// A window: its client area in twips, its outer frame, Load and QueryUnload.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "forms/Colors.h"
#include "lang/Int16.h"

class QMainWindow;
class QWidget;

namespace rt {

class Form {
public:
    Form();
    ~Form();
    Form(const Form&) = delete;
    Form& operator=(const Form&) = delete;

    std::function<void()> onLoad;
    std::function<void(Int16& Cancel, Int16& UnloadMode)> onQueryUnload;

    // Raises Load inside the caller; the window stays hidden.
    void Load();

    std::string Caption() const;
    void setCaption(const std::string& caption);
    void setClientSize(float width, float height);
    void setBackColor(Color color);
    void setIcon(const std::string& resource);
    // Fixes the window's size and the focus order once all controls are made.
    void endLayout();

    // The outer frame of the window, in twips.
    float Left() const;
    void setLeft(float left);
    float Top() const;
    void setTop(float top);
    float Width() const;
    float Height() const;

    // Visible, modeless. The first window of the program shown takes the keys, and one of its
    // controls holds the focus: the one that had it, else the first enabled in tab order.
    void Show();
    bool Visible() const;

    QMainWindow* window() const { return m_window.get(); }
    QWidget* client() const { return m_client; }

private:
    std::unique_ptr<QMainWindow> m_window;
    QWidget* m_client;
};

} // namespace rt
