// SPDX-License-Identifier: GPL-3.0-or-later
#include "sound/click_player.h"
#include "window/built_in_click.h"
#include "window/display_guard.h"
#include "window/frm_metronome.h"

#include <QApplication>

#include <optional>

int main(int argc, char* argv[]) {
    std::optional<window::DisplayGuard> displayGuard(std::in_place);
    QApplication app(argc, argv);
    displayGuard.reset();
    // The menu entry's name: Wayland's app id, and how docks find the entry and its icon.
    QGuiApplication::setDesktopFileName("org.velkaro.Metronome");
    QApplication::setStyle("Fusion");
    window::QtScreenMetrics screen;
    sound::ClickPlayer player(sound::openAudioOutput(), window::builtInClick());
    window::FrmMetronome frmMetronome(screen, player);
    frmMetronome.show();
    return app.exec();
}
