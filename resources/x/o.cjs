/* The first page's skin: a Qt style sheet. */
QPushButton {
  background-color: white;
  border: 1px solid #7a8ca5;
  border-radius: 3px;
  padding: 2px 6px;
}
QPushButton:hover { background-color: #e8f0fb; border-color: #3c78c8; }
QPushButton:pressed { background-color: #cfe0f7; }
QLineEdit { border: 1px solid #a0a8b4; padding: 1px 3px; }
QLineEdit:focus { border-color: #3c78c8; }
