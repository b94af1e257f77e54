// The board window: the 5 x 5 squares, the message line, the clock, the flag marker, the Game
// menu, and all game data.
#pragma once

#include <memory>
#include <string>

#include "forms/ControlArray.h"
#include "forms/Controls.h"
#include "lang/Array2D.h"

class Form2;

class Form1 {
public:
    Form1();
    ~Form1();

    rt::Form form;
    // Square i stands in row i div 5 and column i mod 5. Its caption is its state:
    //   "?"         not opened in this game
    //   ""          opened, no bomb among its neighbours
    //   "1" .. "5"  opened, that many bombs among its neighbours (bold)
    //   "¶"         flagged by a drop of the flag marker
    //   "*"         a bomb, shown once a bomb has been opened
    rt::ControlArray<rt::CommandButton> Command1{"Command1"};
    rt::Label Label1{form}; // message line
    rt::Label Label2{form}; // flag marker "¶", dragged onto squares
    rt::Label Label3{form}; // elapsed seconds
    rt::Label Label4{form}; // "Time"
    rt::Timer Timer1{form};
    rt::Menu menugame{form, "&Game"};
    rt::MenuItem menuagain{menugame, "&Again"};
    rt::MenuItem menuexit{menugame, "E&xit"};

    // The bomb map: Board(x, y), x the column and y the row, both -1 to 5. Playing cells are
    // 0 to 4; the border ring always holds 0, so a 3 x 3 scan never leaves the map.
    static constexpr int BOMB = 100;
    rt::Array2D<rt::Int16, -1, 5> Board{"Board"};
    rt::Int16 ElapsedSeconds = 0;
    rt::Int16 UncoveredCount = 0; // index of the next cover to hide
    std::string PicFile1, PicFile2, PicFile3;

    // The first reference creates the picture window and runs its Load.
    Form2& form2();

    void Form_Load();
    void Form_QueryUnload(rt::Int16& Cancel, rt::Int16& UnloadMode);
    void Command1_Click(rt::Int16 Index);
    void Command1_DragDrop(rt::Int16 Index, rt::Control& Source, float X, float Y);
    void Timer1_Timer();
    void menuagain_Click();
    void menuexit_Click();

private:
    void NewGame();
    void WinTest();
    void EndGame();

    std::unique_ptr<Form2> m_form2;
};
