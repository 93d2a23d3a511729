#pragma once
// The close query's question to whatever guards the screen: may the saver end?
namespace hakop {

class Verifier {
public:
    virtual ~Verifier() = default;
    // Asks, and blocks until there is an answer. 'window' is the saver
    // window's X id, the parent of any prompt the verifier shows. Called on
    // the GUI thread while the saver has let go of keyboard and pointer.
    // True: the saver may close (also when no verifier is installed).
    virtual bool mayClose(unsigned long window) = 0;
};

} // namespace hakop
