// The member name of a control is also its objectName: the cycles, the
// editing and the tests find controls by name.
#pragma once

#define VQT_NAME(member) (member)->setObjectName(QStringLiteral(#member))
