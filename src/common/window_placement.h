#pragma once

class QWidget;

namespace telvora {

// Moves a top-level window so that its frame is centred on the available
// area of the screen it is on (or the primary screen).
void CentreOnScreen(QWidget& window);

// Moves a shown top-level window that has grown past the edge of the
// available area of its screen back inside it (as far as it fits).
void KeepOnScreen(QWidget& window);

} // namespace telvora
