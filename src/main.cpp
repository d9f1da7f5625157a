#include "sound/click_player.h"
#include "sound/qt_audio_output.h"
#include "window/frm_metronome.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setStyle("Fusion");
    window::QtScreenMetrics screen;
    sound::ClickPlayer player(std::make_unique<sound::QtAudioOutput>(), sound::builtInClick());
    window::FrmMetronome frmMetronome(screen, player);
    frmMetronome.show();
    return app.exec();
}
