// Windows and controls: thin facades over Qt widgets, sized in twips. A facade stores
// nothing of its own but the fore colour as given; every property is read from and written to
// its widget.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "forms/Colors.h"
#include "forms/Form.h"
#include "forms/Picture.h"
#include "lang/Int16.h"

class QAction;
class QLabel;
class QMenu;
class QPushButton;
class QTimer;
class QWidget;

namespace rt {

enum class Alignment { Left, Center };
enum class BorderStyle { None, FixedSingle };

class Control {
public:
    virtual ~Control();
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    // Position and size in twips, from the top-left corner of the window's client area.
    void Move(float Left, float Top, float Width, float Height);
    void setBackColor(Color color);
    void setForeColor(Color color);
    void setFont(const Font& font);
    void setTabIndex(int index);
    // What a screen reader says for the control. Buttons and labels are named by their caption
    // unless given a name; a label given a name offers its caption as its description.
    void setAccessibleName(const std::string& name);
    void setAccessibleDescription(const std::string& description);

    // Test seam: the Qt widget behind the control, so tests can press the real thing.
    QWidget* widget() const { return m_widget; }

    static Control* fromWidget(const QWidget* widget);

protected:
    explicit Control(QWidget* widget);

    QWidget* m_widget;

private:
    // Kept as given: a colour of the scheme is drawn as such only where it reads against the
    // back colour, which may be set after it.
    Color m_foreColor = Color::windowText();
    void applyForeColor();
};

class CommandButton : public Control {
public:
    explicit CommandButton(Form& form);

    std::function<void()> onClick;
    std::function<void(Control& Source, float X, float Y)> onDragDrop;

    std::string Caption() const;
    void setCaption(const std::string& caption);
    bool FontBold() const;
    void setFontBold(bool bold);
    bool Enabled() const;
    void setEnabled(bool enabled);
    // What a screen reader says for the button while its caption is empty.
    void setAccessibleBlankName(const std::string& name);

private:
    QPushButton* button() const;
};

class Label : public Control {
public:
    explicit Label(Form& form);

    std::string Caption() const;
    void setCaption(const std::string& caption);
    void setAlignment(Alignment alignment);
    void setBorderStyle(BorderStyle style);
    // Automatic drag mode: a press starts a drag at once, an outline follows the pointer and
    // a release over a control that takes drops raises that control's DragDrop.
    void setDragModeAutomatic();
    // For players who cannot drag: key (a letter) on the focused control of the window, or
    // that control's accessible action named action, drops the label there.
    void setKeyboardDrop(char key, const std::string& action);
    // The window's status line: screen readers hear each new caption at once, with the new
    // caption of the focused button, and the focus rests here when the buttons are disabled.
    void setStatusLine();

private:
    QLabel* label() const;
};

// A rectangle filled solid, outlined one pixel wide. Drawn decoration: screen readers do not
// find it among its window's controls.
class Shape : public Control {
public:
    explicit Shape(Form& form);

    // After Visible has changed, so that its window can describe what the shapes hide.
    std::function<void()> onVisibleChanged;

    void setFillColor(Color color);
    void setBorderColor(Color color);
    bool Visible() const;
    void setVisible(bool visible);
};

// Shows its picture stretched over its whole rectangle.
class Image : public Control {
public:
    explicit Image(Form& form);

    rt::Picture Picture() const;
    // Reads a picture that LoadPicture named, at this control's size in device pixels.
    void setPicture(const rt::Picture& picture);
};

class Timer {
public:
    explicit Timer(Form& form);
    ~Timer();

    std::function<void()> onTimer;

    int Interval() const;
    // 0 stops the ticks; any other value (re)starts them with that period in milliseconds.
    void setInterval(int milliseconds);
    QTimer* timer() const { return m_timer; }

private:
    QTimer* m_timer;
};

class Menu {
public:
    Menu(Form& form, const std::string& caption);

    std::string Caption() const;
    bool Enabled() const;
    void setEnabled(bool enabled);
    QMenu* menu() const { return m_menu; }

private:
    QMenu* m_menu;
};

class MenuItem {
public:
    MenuItem(Menu& menu, const std::string& caption);

    std::function<void()> onClick;

    std::string Caption() const;
    bool Enabled() const;
    void setEnabled(bool enabled);
    bool Checked() const;
    void setChecked(bool checked);
    QAction* action() const { return m_action; }

private:
    QAction* m_action;
};

} // namespace rt
