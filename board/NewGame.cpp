// Dealing a game: the bomb map is cleared and five bombs hidden, the picture covered and
// loaded afresh, the squares reset, both windows shown and the clock restarted.
#include "Form1.h"

#include "lang/Random.h"
#include "picture/Form2.h"
#include "picture/PicSets.h"

using rt::Int16;

// Leaves alone: the message line (it keeps its last text until the first opening), the flag
// marker, the check marks of the picture sets and the border of Board.
void Form1::NewGame() {
    rt::Randomize();

    for (Int16 x = 0; x <= 4; x += 1)
        for (Int16 y = 0; y <= 4; y += 1)
            Board(x, y) = 0;

    for (Int16 i = 0; i <= 19; i += 1)
        form2().Shape1(i).setVisible(true);

    kelvora::LoadCheckedPicture(form2(), PicFile1, PicFile2, PicFile3);

    // Column first, then row; a pair that lands on a bomb is drawn again without counting.
    Int16 bombsLeft = 5;
    while (bombsLeft > 0) {
        const Int16 x = rt::Int(double(rt::Rnd()) * 5);
        const Int16 y = rt::Int(double(rt::Rnd()) * 5);
        if (Board(x, y) != 0)
            continue;
        Board(x, y) = BOMB;
        bombsLeft -= 1;
    }

    for (Int16 k = 0; k <= 24; k += 1) {
        Command1(k).setCaption("?");
        Command1(k).setEnabled(true);
        Command1(k).setFontBold(false);
    }

    form.Show();
    form2().form.Show();

    ElapsedSeconds = 0;
    form2().IdxPic.setEnabled(false);
    Timer1.setInterval(1000);
    Label3.setCaption("0");
    UncoveredCount = 0;
}
