"""The commands the scripts run (check, judge, languages, accuracy, fixture), each a module with a
main, and the model pictures the accuracy command and the tests make (sheet_model). They may use
every package below; nothing imports a command."""
