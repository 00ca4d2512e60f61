#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Host/Lib/AlgorithmControllerFactory.h"

namespace Corvexis {

// Which controller belongs to which algorithm of this plug-in. The rows are tested in order and the
// first whose algorithm type matches the algorithm's dynamic type decides; algorithms of no row get
// null (the host then uses its default controller). Construction also registers the controller-only
// menu entries "Stream;Stream Controls", "Stream;Attach Spacing Information", "Stream;Remote Video
// Stream" and "Streaming;Vitals Data Component".
// Threading: create is caller synchronises; rows() is fixed after construction.
class StreamAlgorithmControllerFactory : public AlgorithmControllerFactory
{
public:
    struct Row
    {
        std::string algorithmType;   // for people: "StreamForwarder"
        std::string controllerType;  // for people: "DefaultAlgorithmController"
        std::function<bool(Algorithm*)> matches;
        std::function<std::unique_ptr<AlgorithmController>(Algorithm*)> create;
    };

    StreamAlgorithmControllerFactory();
    ~StreamAlgorithmControllerFactory() override;

    std::unique_ptr<AlgorithmController> create(Algorithm* algorithm) const override;
    const std::vector<Row>& rows() const { return rows_; }

protected:
    // Appends a row for algorithms of dynamic type A (or derived), creating controllers by `create`.
    template <typename A>
    void addRow(std::string algorithmType, std::string controllerType,
                std::function<std::unique_ptr<AlgorithmController>(A*)> create)
    {
        rows_.push_back({std::move(algorithmType), std::move(controllerType),
                         [](Algorithm* a) { return dynamic_cast<A*>(a) != nullptr; },
                         [create = std::move(create)](Algorithm* a) { return create(dynamic_cast<A*>(a)); }});
    }
    // Appends a row that gives A the stream controller (A must also be a StreamAlgorithmBase).
    template <typename A>
    void addStreamControllerRow(std::string algorithmType, std::string controllerType);
    // Appends a row that gives A the host's default controller.
    template <typename A>
    void addDefaultControllerRow(std::string algorithmType);

private:
    std::vector<Row> rows_;
};

}  // namespace Corvexis

#include "Host/Lib/DefaultAlgorithmController.h"
#include "Stream/Framework/StreamControllerBase.h"

namespace Corvexis {

template <typename A>
void StreamAlgorithmControllerFactory::addStreamControllerRow(std::string algorithmType, std::string controllerType)
{
    addRow<A>(std::move(algorithmType), std::move(controllerType),
              [](A* a) -> std::unique_ptr<AlgorithmController> { return std::make_unique<StreamControllerBase>(a, a); });
}

template <typename A>
void StreamAlgorithmControllerFactory::addDefaultControllerRow(std::string algorithmType)
{
    addRow<A>(std::move(algorithmType), "DefaultAlgorithmController",
              [](A* a) -> std::unique_ptr<AlgorithmController> { return std::make_unique<DefaultAlgorithmController>(a); });
}

}  // namespace Corvexis
