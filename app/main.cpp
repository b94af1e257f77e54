// The executable: the application around the game, which starts with the board window.
#include "board/Form1.h"
#include "program/Application.h"
#include "resources/Icon.h"

// The reverse-DNS id under which the desktop knows the program.
constexpr const char* AppId = "io.github.kelvoradx.KelvoraDX";

int main(int, char* argv[]) {
    rt::Application app(argv[0], {"KelvoraDX", AppId, kelvora::IconResource});
    if (!app.hasDisplay())
        return 1;
    Form1 form1;
    form1.form.Load();
    return app.exec();
}
