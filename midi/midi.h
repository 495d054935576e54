#pragma once
// Placeholder: the transport object lands with the foundation work.
