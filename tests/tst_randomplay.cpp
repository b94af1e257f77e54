// Thousands of seeded games of random clicks, flag drops and new games through real input,
// every rule checked against a model of the board after each event.
#include "TestSupport.h"

#include <array>
#include <random>
#include <sstream>

using test::Game;

namespace {

const std::string WinMessage = "やった！おめでとう！";
const std::string LossMessage = "どかーん！";

// What the board must show, worked out from the layout alone.
struct Model {
    enum class State { Play, Lost, Won };

    std::array<bool, 25> bomb{};
    std::array<std::string, 25> caption;
    std::array<bool, 25> bold{};
    State state = State::Play;
    int uncovered = 0;
    std::string message; // the message line keeps its text across a new game
    int pictureSet = 0;  // the checked set, shown from the next new game on

    void deal(const std::vector<int>& bombs) {
        bomb.fill(false);
        for (int b : bombs)
            bomb[b] = true;
        caption.fill("?");
        bold.fill(false);
        state = State::Play;
        uncovered = 0;
    }

    int neighbours(int i) const {
        int n = 0;
        for (int y = i / 5 - 1; y <= i / 5 + 1; ++y)
            for (int x = i % 5 - 1; x <= i % 5 + 1; ++x)
                if (x >= 0 && x < 5 && y >= 0 && y < 5 && bomb[y * 5 + x])
                    ++n;
        return n;
    }

    void open(int i) {
        if (state != State::Play)
            return;
        if (bomb[i]) {
            for (int k = 0; k < 25; ++k)
                if (bomb[k])
                    caption[k] = "*";
            message = LossMessage;
            state = State::Lost;
            return;
        }
        if (caption[i] == "?")
            ++uncovered;
        const int n = neighbours(i);
        if (n != 0) {
            caption[i] = std::to_string(n);
            bold[i] = true;
            message = "まわりに" + std::to_string(n) + "個爆弾がある！気をつけろ！";
        } else {
            caption[i] = "";
            message = "ふぅっ！セーフ！";
        }
        settle();
    }

    void flag(int i) {
        if (state != State::Play)
            return;
        caption[i] = "¶";
        settle();
    }

    // A win is every bomb flagged and every safe square open, nothing less and nothing more.
    void settle() {
        for (int k = 0; k < 25; ++k) {
            if (bomb[k] && caption[k] != "¶")
                return;
            if (!bomb[k] && (caption[k] == "?" || caption[k] == "¶"))
                return;
        }
        message = WinMessage;
        state = State::Won;
    }
};

// Where the program's state departs from the model; empty when it does not.
std::string mismatch(Game& g, const Model& m) {
    std::ostringstream out;
    Form1& f = g.f1();
    int bombs = 0;
    for (int y = -1; y <= 5; ++y) {
        for (int x = -1; x <= 5; ++x) {
            const int v = f.Board(x, y).value();
            const bool playing = x >= 0 && x < 5 && y >= 0 && y < 5;
            if (!playing && v != 0)
                out << "border cell (" << x << "," << y << ") holds " << v << "; ";
            if (playing && v != (m.bomb[y * 5 + x] ? Form1::BOMB : 0))
                out << "cell (" << x << "," << y << ") holds " << v << "; ";
            bombs += v == Form1::BOMB ? 1 : 0;
        }
    }
    if (bombs != 5)
        out << bombs << " bombs on the map; ";

    const int count = f.UncoveredCount.value();
    if (count != m.uncovered || count > 20)
        out << "UncoveredCount " << count << ", expected " << m.uncovered << "; ";
    for (int c = 0; c < 20; ++c)
        if (g.f2().Shape1(c).Visible() != (c >= count))
            out << "cover " << c << " visible " << g.f2().Shape1(c).Visible() << "; ";

    const bool inPlay = m.state == Model::State::Play;
    for (int i = 0; i < 25; ++i) {
        if (g.caption(i) != m.caption[i])
            out << "square " << i << " shows \"" << g.caption(i) << "\", expected \""
                << m.caption[i] << "\"; ";
        if (f.Command1(i).FontBold() != m.bold[i])
            out << "square " << i << " bold " << f.Command1(i).FontBold() << "; ";
        if (f.Command1(i).Enabled() != inPlay)
            out << "square " << i << " enabled " << f.Command1(i).Enabled() << "; ";
    }
    if (g.message() != m.message)
        out << "message \"" << g.message() << "\", expected \"" << m.message << "\"; ";
    if (g.f2().IdxPic.Enabled() != (m.state == Model::State::Won))
        out << "picture menu enabled " << g.f2().IdxPic.Enabled() << "; ";
    if (f.Timer1.Interval() != (inPlay ? 1000 : 0))
        out << "clock interval " << f.Timer1.Interval() << "; ";
    if (!g.errors.empty())
        out << "run-time error: " << g.errors.front().detail() << "; ";
    if (g.endStatus)
        out << "program ended; ";
    return out.str();
}

// A point well inside square i, in the marker's coordinates: clear of the pixel that
// neighbouring squares share.
QPoint dropPoint(Game& g, int i, std::mt19937& rng) {
    QPushButton* target = g.square(i);
    const QRect inner = target->rect().adjusted(3, 3, -3, -3);
    std::uniform_int_distribution<int> dx(inner.left(), inner.right());
    std::uniform_int_distribution<int> dy(inner.top(), inner.bottom());
    QWidget* marker = g.f1().Label2.widget();
    return marker->mapFromGlobal(target->mapToGlobal(QPoint(dx(rng), dy(rng))));
}

// The marker dragged by events sent to it straight: the quick path for most drops.
void dropOnMarker(Game& g, int i, std::mt19937& rng) {
    QWidget* marker = g.f1().Label2.widget();
    const QPoint release = dropPoint(g, i, rng);
    QTest::mousePress(marker, Qt::LeftButton, {}, marker->rect().center());
    QTest::mouseRelease(marker, Qt::LeftButton, {}, release);
}

// Five distinct cells in the order Rnd deals them, sometimes with a repeat drawn between.
std::vector<int> drawLayout(std::mt19937& rng, std::vector<int>& feed) {
    std::array<int, 25> cells;
    for (int i = 0; i < 25; ++i)
        cells[i] = i;
    std::shuffle(cells.begin(), cells.end(), rng);
    std::vector<int> layout(cells.begin(), cells.begin() + 5);
    feed = layout;
    if (rng() % 3 == 0) {
        const int at = 1 + int(rng() % 4);
        feed.insert(feed.begin() + at, feed[rng() % at]);
    }
    return layout;
}

// How a game is played: towards a win (safe squares opened, bombs flagged), misled (five
// flags on safe squares, every other safe square opened, then a bomb: the loss that must not
// pass for a win), or at random.
enum class Player { Winning, Misled, Random };

// Five flags on safe squares and no safe square left unopened, as at a win.
bool looksLikeAWin(const Model& m) {
    int flags = 0;
    for (int k = 0; k < 25; ++k) {
        if (m.bomb[k])
            continue;
        if (m.caption[k] == "?")
            return false;
        flags += m.caption[k] == "¶" ? 1 : 0;
    }
    return flags == 5;
}

// A square for the next click or drop; one in ten is any square at all, whatever the player.
int pick(const Model& m, std::mt19937& rng, bool toFlag, Player player) {
    int safeFlags = 0;
    for (int i = 0; i < 25; ++i)
        safeFlags += !m.bomb[i] && m.caption[i] == "¶" ? 1 : 0;
    std::vector<int> useful;
    for (int i = 0; i < 25; ++i) {
        const bool covered = m.caption[i] == "?" || m.caption[i] == "¶";
        if (player == Player::Winning &&
            (toFlag ? (m.bomb[i] && m.caption[i] != "¶") : (!m.bomb[i] && covered)))
            useful.push_back(i);
        if (player == Player::Misled && !m.bomb[i] && m.caption[i] == "?" &&
            (!toFlag || safeFlags < 5))
            useful.push_back(i);
    }
    if (player == Player::Misled && !toFlag && useful.empty())
        for (int i = 0; i < 25; ++i)
            if (m.bomb[i])
                useful.push_back(i);
    if (!useful.empty() && rng() % 10 != 0)
        return useful[rng() % useful.size()];
    return int(rng() % 25);
}

struct Tally {
    int games = 0, wins = 0, losses = 0, events = 0, drops = 0;
    int lossesLikeAWin = 0; // five flags, nothing unopened, then a bomb
};

} // namespace

class RandomPlayTest : public QObject {
    Q_OBJECT

private slots:
    void randomGamesKeepEveryRule_data();
    void randomGamesKeepEveryRule();
};

void RandomPlayTest::randomGamesKeepEveryRule_data() {
    QTest::addColumn<unsigned>("seed");
    QTest::addColumn<int>("games");
    for (unsigned seed : {1u, 20240607u, 777u, 31337u})
        QTest::newRow(qPrintable("seed " + QString::number(seed))) << seed << 500;
}

void RandomPlayTest::randomGamesKeepEveryRule() {
    QFETCH(unsigned, seed);
    QFETCH(int, games);
    std::mt19937 rng(seed);
    Game g;
    Model m;
    std::vector<int> feed;
    Tally tally;

    m.deal(drawLayout(rng, feed));
    g.rnd.bombsAt(feed);
    QVERIFY(g.start());
    QCOMPARE(g.rnd.pending(), std::size_t(0));
    m.message = g.message();
    std::string error = mismatch(g, m);
    QVERIFY2(error.empty(), error.c_str());

    while (tally.games < games) {
        // A new game may be asked for at any time, and a finished board still takes (ignored)
        // input for a while.
        const Player player = Player(tally.games % 3);
        const int roll = int(rng() % 100);
        std::string what, dealing;
        const bool over = m.state != Model::State::Play;
        if ((over && roll < 25) || roll < 2) {
            if (m.state == Model::State::Won && rng() % 2 == 0) {
                m.pictureSet = int(rng() % 3);
                g.f2().PicSet(m.pictureSet).action()->trigger();
            }
            tally.wins += m.state == Model::State::Won ? 1 : 0;
            tally.losses += m.state == Model::State::Lost ? 1 : 0;
            ++tally.games;
            m.deal(drawLayout(rng, feed));
            g.rnd.bombsAt(feed);
            g.again();
            what = "new game";
            if (g.rnd.pending() != 0)
                dealing = "the layout was not dealt as drawn; ";
            if (g.shownSet() != m.pictureSet)
                dealing += "the picture of set " + std::to_string(g.shownSet() + 1) + " shows; ";
        } else if (roll < 70) {
            const int i = pick(m, rng, false, player);
            if (m.state == Model::State::Play && m.bomb[i] && looksLikeAWin(m))
                ++tally.lossesLikeAWin;
            g.click(i);
            m.open(i);
            what = "click on " + std::to_string(i);
        } else {
            const int i = pick(m, rng, true, player);
            // A few drags go through the window as a pointer would; the rest straight to the
            // marker.
            if (rng() % 8 == 0)
                g.flag(i);
            else
                dropOnMarker(g, i, rng);
            m.flag(i);
            ++tally.drops;
            what = "drop on " + std::to_string(i);
        }
        ++tally.events;
        error = dealing + mismatch(g, m);
        if (!error.empty()) {
            const std::string report = "seed " + std::to_string(seed) + ", game " +
                                       std::to_string(tally.games) + ", after " + what + ": " +
                                       error;
            QFAIL(report.c_str());
        }
    }
    // The mix must really have reached both ends of a game, many times.
    const QString figures = QString("%1 games, %2 wins, %3 losses (%4 after five flags on safe "
                                    "squares), %5 events, %6 drops")
                                .arg(tally.games)
                                .arg(tally.wins)
                                .arg(tally.losses)
                                .arg(tally.lossesLikeAWin)
                                .arg(tally.events)
                                .arg(tally.drops);
    QVERIFY2(tally.wins > games / 20 && tally.losses > games / 10 && tally.lossesLikeAWin > 5,
             qPrintable(figures));
    qInfo("%s", qPrintable(figures));
}

QTEST_MAIN(RandomPlayTest)
#include "tst_randomplay.moc"
