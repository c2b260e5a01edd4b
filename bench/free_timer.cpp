// The comparison for the onset benchmark: the same tick as the program's, on a plain 800 ms
// timer that runs from wherever it was started instead of on the wall-clock grid. It opens the
// hour's sound file at second 0 and second 8 of minute 0, so the same folder watch times it.

#include <QCoreApplication>
#include <QTime>
#include <QTimer>

#include <cstdio>
#include <string>

namespace {

constexpr int kTickMs = 800;

struct FreeTimer {
    std::string folder;
    int chime_latch = 0;

    void Tick() {
        const QTime now = QTime::currentTime();
        if (chime_latch == 0 && now.minute() == 0 && (now.second() == 0 || now.second() == 8)) {
            chime_latch = 1;
            OpenHourSound(now.hour() % 12);
        }
        if (now.second() == 1 || now.second() == 9) {
            chime_latch = 0;
        }
    }

    // Only the open matters to the watch; the file is not played.
    void OpenHourSound(int dial) const {
        const std::string path =
            folder + "/" + char('0' + dial / 10) + char('0' + dial % 10) + ".WAV";
        if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
            std::fclose(file);
        }
    }
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: free_timer FOLDER\n");
        return 2;
    }
    QCoreApplication app(argc, argv);
    FreeTimer state{argv[1]};
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setInterval(kTickMs);
    QObject::connect(&timer, &QTimer::timeout, [&state] { state.Tick(); });
    timer.start();
    return QCoreApplication::exec();
}
