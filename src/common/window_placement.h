#pragma once

class QWidget;

namespace telvora {

// Moves a top-level window so that its frame is centred on the available
// area of the screen it is on (or the primary screen).
void CentreOnScreen(QWidget& window);

} // namespace telvora
