#pragma once
#include "engine/nodedefs/TabledNodeDef.h"

// The nodes every instrument has below its DEV node.
namespace tarnix {
namespace NodeDefs {
namespace LQ3 {

// A supply voltage below STATS/PHYSICAL: the derived type gives its name and
// its "short" text; all show three fraction digits, in volts.
template <class Def, int32_t Order, int32_t TypeId>
struct SupplyNodeDef : PlainNodeDef<Def, Order, TypeId> {
    static void help(const TreeNode::Ptr& node) {
        const HelpItem items[] = {helpInteger("precision", 3), helpText("short", Def::shortText),
                                  helpText("read", "double"), helpText("unit", "Volts")};
        applyHelpItems(*node, items, sizeof items / sizeof items[0]);
    }
};

struct ClockBase : PlainNodeDef<ClockBase, 1, 17> {
    static constexpr const char* name = "CLOCKBASE";
    static constexpr HelpItem helpItems[] = {helpText("short", "Provides clockbase value for the device"),
                                             helpText("read", "integer")};
};

struct Stats : PlainNodeDef<Stats, 5, 45> {
    static constexpr const char* name = "STATS";
    static constexpr HelpItem helpItems[] = {helpText("short", "Nodes providing statistical data about the device.")};

    struct BytesSent : PlainNodeDef<BytesSent, 1, 46> {
        static constexpr const char* name = "BYTESSENT";
        static constexpr HelpItem helpItems[] = {helpText("short", "Total amount of bytes sent via USB."),
                                                 helpText("read", "integer"), helpText("unit", "Bytes")};
    };
    struct BytesReceived : PlainNodeDef<BytesReceived, 2, 47> {
        static constexpr const char* name = "BYTESRECEIVED";
        static constexpr HelpItem helpItems[] = {helpText("short", "Total amount of bytes received via USB."),
                                                 helpText("read", "integer"), helpText("unit", "Bytes")};
    };
    struct MeanPollCount : PlainNodeDef<MeanPollCount, 3, 48> {
        static constexpr const char* name = "MEANPOLLCNT";
        static constexpr HelpItem helpItems[] = {helpText("short", "Average poll-count."), helpText("read", "double"),
                                                 helpText("unit", "Polls/Second")};
    };
    struct MeanMsgCount : PlainNodeDef<MeanMsgCount, 4, 49> {
        static constexpr const char* name = "MEANMSGCNT";
        static constexpr HelpItem helpItems[] = {helpText("short", "Average message-count."),
                                                 helpText("read", "double"), helpText("unit", "Messages/Second")};
    };

    struct Physical : PlainNodeDef<Physical, 5, 50> {
        static constexpr const char* name = "PHYSICAL";
        static constexpr HelpItem helpItems[] = {
            helpText("short", "Group of nodes providing some physical information on the device.")};

        struct V12 : SupplyNodeDef<V12, 1, 51> {
            static constexpr const char* name = "1V2";
            static constexpr const char* shortText = "Actual voltage of the 1.2volts supply.";
        };
        struct V18 : SupplyNodeDef<V18, 2, 52> {
            static constexpr const char* name = "1V8";
            static constexpr const char* shortText = "Actual voltage of the 1.8volts supply.";
        };
        struct V25 : SupplyNodeDef<V25, 3, 53> {
            static constexpr const char* name = "2V5";
            static constexpr const char* shortText = "Actual voltage of the 2.5volts supply.";
        };
        struct V33 : SupplyNodeDef<V33, 4, 54> {
            static constexpr const char* name = "3V3";
            static constexpr const char* shortText = "Actual voltage of the 3.3volts supply.";
        };
        struct V50 : SupplyNodeDef<V50, 5, 55> {
            static constexpr const char* name = "5V0";
            static constexpr const char* shortText = "Actual voltage of the 5.0volts supply.";
        };
        struct Temp : PlainNodeDef<Temp, 6, 56> {
            static constexpr const char* name = "TEMP";
            static constexpr HelpItem helpItems[] = {helpText("short", "Actual temperature."),
                                                     helpText("read", "double"),
                                                     helpText("unit", "Degrees Celsius")};
        };
    };
};

struct Raw : PlainNodeDef<Raw, 6, 57> {
    static constexpr const char* name = "RAW";
    static constexpr HelpItem helpItems[] = {helpFlag("nolist", true),
                                             helpText("short", "infrastructure to access registers directly.")};

    struct Read : PlainNodeDef<Read, 1, 58> {
        static constexpr const char* name = "READ";
        static constexpr HelpItem helpItems[] = {helpFlag("nolist", true), helpText("short", "nodes to read registers.")};

        struct Address : PlainNodeDef<Address, 1, 59> {
            static constexpr const char* name = "ADDRESS";
            static constexpr HelpItem helpItems[] = {helpFlag("nolist", true), helpText("short", "address to listen to."),
                                                     helpText("write", "integer"), helpText("read", "integer")};
        };
        struct Request : PlainNodeDef<Request, 2, 60> {
            static constexpr const char* name = "REQUEST";
            static constexpr HelpItem helpItems[] = {
                helpFlag("nolist", true),
                helpText("short", "write a length into this node and the register will be read."),
                helpText("write", "integer")};
        };
        struct Data : PlainNodeDef<Data, 3, 61> {
            static constexpr const char* name = "DATA";
            static constexpr HelpItem helpItems[] = {helpFlag("nolist", true), helpText("short", "output of the data."),
                                                     helpText("stream", "bytearray")};
        };
    };

    struct Write : PlainNodeDef<Write, 2, 62> {
        static constexpr const char* name = "WRITE";
        static constexpr HelpItem helpItems[] = {helpFlag("nolist", true), helpText("short", "node to write registers."),
                                                 helpText("write", "bytearray")};
    };
};

}  // namespace LQ3
}  // namespace NodeDefs
}  // namespace tarnix
