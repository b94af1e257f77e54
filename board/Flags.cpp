// Flags, the win test and the end of a game.
//
// The state of a game is held by the controls:
//   in play  squares enabled, Timer1 Interval 1000, IdxPic disabled
//   lost     squares disabled, every bomb "*",  Interval 0, IdxPic disabled
//   won      squares disabled, every bomb "¶",  Interval 0, IdxPic enabled
#include "Form1.h"

#include "picture/Form2.h"

using rt::Int16;

// Whatever the square showed, it now shows the flag; its boldness stays as it was.
void Form1::Command1_DragDrop(Int16 Index, rt::Control&, float, float) {
    Command1(Index).setCaption("¶");
    WinTest();
}

// Won when no square is left unopened and exactly five carry the flag. Since a bomb square
// can only show "?" or "¶" in play, that is all bombs flagged and all safe squares open.
void Form1::WinTest() {
    Int16 count = 0;
    for (Int16 i = 0; i <= 24; i += 1) {
        if (Command1(i).Caption() == "¶")
            count += 1;
        if (Command1(i).Caption() == "?")
            count = -100;
        // Bombs on show mean the game was just lost; five flags on safe squares must not
        // turn that loss into a win.
        if (Command1(i).Caption() == "*")
            count = -100;
    }
    if (count == 5) {
        Label1.setCaption("やった！おめでとう！");
        form2().IdxPic.setEnabled(true);
        EndGame();
    }
}

// Freezes the board: the clock stops and no square takes clicks or drops until NewGame.
void Form1::EndGame() {
    Timer1.setInterval(0);
    for (Int16 row = 0; row <= 4; row += 1)
        for (Int16 column = 0; column <= 4; column += 1)
            Command1(row * 5 + column).setEnabled(false);
}
