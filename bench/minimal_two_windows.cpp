// The yardstick for start-up: the least a Qt Widgets program with the game's two windows
// does. Two main windows of the game's sizes, each with a menu; 25 buttons and a label in the
// first, a label in the second.
#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QPushButton>

int main(int argc, char** argv) {
    QApplication app(argc, argv);

    QMainWindow board;
    board.setWindowTitle("Board");
    board.menuBar()->addMenu("&Game")->addAction("&Again");
    auto* squares = new QWidget;
    squares->setFixedSize(160, 257);
    for (int i = 0; i < 25; ++i) {
        auto* button = new QPushButton("?", squares);
        button->setGeometry(i % 5 * 32, i / 5 * 32, 33, 33);
    }
    auto* message = new QLabel("Message", squares);
    message->setGeometry(0, 168, 161, 41);
    board.setCentralWidget(squares);
    board.move(400, 300);

    QMainWindow picture;
    picture.setWindowTitle("Picture");
    picture.menuBar()->addMenu("&Picture")->addAction("Set1");
    auto* area = new QLabel("Picture");
    area->setFixedSize(288, 257);
    picture.setCentralWidget(area);
    picture.move(650, 300);

    board.show();
    picture.show();
    return app.exec();
}
