// The console's entry procedure: start the application, create the main window, run.
#include "Unit1.h"

int main(int argc, char *argv[])
{
    TApplication application(argc, argv);
    Application = &application;
    try {
        Application->Initialize();
        Application->SetTitle("Brivane");
        Application->CreateForm(Form1);
        Application->Run();
    } catch (const Exception &error) {
        Application->ShowException(error);
    } catch (...) {
        // Anything else is shown as an error without a message.
        try {
            throw Exception("");
        } catch (const Exception &error) {
            Application->ShowException(error);
        }
    }
    return 0;
}
