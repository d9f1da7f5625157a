#include "sound/click_player.h"
#include "window/built_in_click.h"
#include "sound/pulse_output.h"
#include "window/frm_metronome.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setStyle("Fusion");
    window::QtScreenMetrics screen;
    sound::ClickPlayer player(std::make_unique<sound::PulseOutput>(), window::builtInClick());
    window::FrmMetronome frmMetronome(screen, player);
    frmMetronome.show();
    return app.exec();
}
