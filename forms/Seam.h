#pragma once

#include <memory>

namespace tova {

// Holds the one implementation of an interface that the program uses for something tests must
// control (message boxes, dialogs, the clock). The real implementation is the default; a test
// installs its own and installs nullptr to go back.
template <class Interface, class Default> class Seam {
public:
    static Interface& get()
    {
        if (!holder())
            holder() = std::make_unique<Default>();
        return *holder();
    }
    static void install(std::unique_ptr<Interface> replacement) { holder() = std::move(replacement); }

private:
    static std::unique_ptr<Interface>& holder()
    {
        static std::unique_ptr<Interface> current;
        return current;
    }
};

} // namespace tova
