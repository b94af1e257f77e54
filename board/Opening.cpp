// Opening a square: a click on Command1(Index).
#include "Form1.h"

#include "picture/Form2.h"

using rt::Int16;

void Form1::Command1_Click(Int16 Index) {
    const Int16 row = rt::Int(rt::CDbl(Index) / 5);
    const Int16 column = Index % 5;
    const std::string savedCaption = Command1(Index).Caption();

    if (Board(column, row) == BOMB) {
        // Every bomb shows; nothing else changes (a flag on a bomb gives way to "*").
        for (Int16 y = 0; y <= 4; y += 1)
            for (Int16 x = 0; x <= 4; x += 1)
                if (Board(x, y) == BOMB)
                    Command1(y * 5 + x).setCaption("*");
        Label1.setCaption("どかーん！");
        EndGame();
    } else {
        // The border ring holds no bombs, so edge and corner squares need no special case.
        Int16 count = 0;
        for (Int16 x = column - 1; x <= column + 1; x += 1)
            for (Int16 y = row - 1; y <= row + 1; y += 1)
                if (Board(x, y) == BOMB)
                    count += 1;

        if (count != 0) {
            Command1(Index).setCaption(rt::CStr(count));
            Command1(Index).setFontBold(true);
            Label1.setCaption("まわりに" + rt::CStr(count) + "個爆弾がある！気をつけろ！");
        } else {
            Command1(Index).setCaption("");
            Label1.setCaption("ふぅっ！セーフ！");
        }

        // Only a square opened straight from "?" uncovers the picture: reopening an open
        // square or opening a flagged one does not. Covers go in index order.
        if (savedCaption == "?") {
            form2().Shape1(UncoveredCount).setVisible(false);
            UncoveredCount += 1;
        }
    }

    WinTest();
}
