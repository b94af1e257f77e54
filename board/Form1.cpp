// Layout of the board window and the wiring of its events.
#include "Form1.h"

#include "picture/Form2.h"
#include "resources/Icon.h"

#include <string>

namespace {

const rt::Color LightCyan = rt::Color::rgb(128, 255, 255);

// "System" is rarely installed on Linux; the faces after it show "?", "¶", "*" and digits.
const rt::Font SquareFont{{"System", "IPAGothic", "DejaVu Sans"}, 13.5};

} // namespace

Form1::Form1() {
    form.setCaption("KelvoraDX");
    form.setClientSize(2400, 3855);
    form.setBackColor(LightCyan);
    form.setIcon(kelvora::IconResource);

    // Spaced 480 apart but 495 wide: neighbours overlap by 15 twips and the right edge of
    // column 4 lies outside the 2400-twip client area.
    for (int i = 0; i < 25; ++i) {
        rt::CommandButton& square = Command1.add(form);
        square.Move(float(i % 5 * 480), float(i / 5 * 480), 495, 495);
        square.setCaption("?");
        square.setFont(SquareFont);
        square.setTabIndex(i);
        square.setAccessibleDescription("Row " + std::to_string(i / 5 + 1) + ", column " +
                                        std::to_string(i % 5 + 1));
        square.setAccessibleBlankName("Open, empty");
    }

    Label1.Move(0, 2520, 2415, 615);
    Label1.setBackColor(rt::Color::windowBackground());
    Label1.setForeColor(rt::Color::windowText());
    Label1.setAccessibleName("Message");
    Label1.setStatusLine();
    Label1.setTabIndex(25);

    Label2.Move(1800, 3360, 255, 375);
    Label2.setCaption("¶");
    Label2.setBackColor(rt::Color::windowBackground());
    Label2.setForeColor(rt::Color::windowText());
    Label2.setFont(SquareFont);
    Label2.setAlignment(rt::Alignment::Center);
    Label2.setBorderStyle(rt::BorderStyle::FixedSingle);
    Label2.setDragModeAutomatic();
    Label2.setKeyboardDrop('F', "Flag");
    Label2.setAccessibleName("Flag marker");
    Label2.setTabIndex(26);

    Label3.Move(600, 3480, 615, 255);
    Label3.setBackColor(LightCyan);
    Label3.setForeColor(rt::Color::rgb(255, 0, 0));
    Label3.setFont(SquareFont);
    Label3.setAccessibleName("Elapsed seconds");
    Label3.setTabIndex(27);

    Label4.Move(120, 3240, 735, 255);
    Label4.setCaption("Time");
    Label4.setBackColor(LightCyan);
    Label4.setForeColor(rt::Color::windowText());
    Label4.setFont(SquareFont);
    Label4.setTabIndex(28);

    Timer1.setInterval(1000);
    form.endLayout();

    form.onLoad = [this] { Form_Load(); };
    form.onQueryUnload = [this](rt::Int16& Cancel, rt::Int16& UnloadMode) {
        Form_QueryUnload(Cancel, UnloadMode);
    };
    Command1.onClick = [this](rt::Int16 Index) { Command1_Click(Index); };
    Command1.onDragDrop = [this](rt::Int16 Index, rt::Control& Source, float X, float Y) {
        Command1_DragDrop(Index, Source, X, Y);
    };
    Timer1.onTimer = [this] { Timer1_Timer(); };
    menuagain.onClick = [this] { menuagain_Click(); };
    menuexit.onClick = [this] { menuexit_Click(); };
}

Form1::~Form1() = default;

Form2& Form1::form2() {
    if (!m_form2) {
        m_form2 = std::make_unique<Form2>();
        m_form2->form.Load();
    }
    return *m_form2;
}
