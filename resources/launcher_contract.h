/* What a launcher carries and the packer changes: the payload's resource, and the string table of
   the settings the launcher works with (resources/launcher_settings.inc lists them, with their
   ids, rules and the values of a launcher built here). Read by the launcher, the packer and the
   resource script alike, so plain macros only. */
#ifndef LAUNCHER_CONTRACT_H
#define LAUNCHER_CONTRACT_H

/* The payload: a zip archive under the string type "zip" (case is ignored), id 117. The type as
   the resource script writes it, and as text. */
#define LAUNCHER_PAYLOAD_ID 117
#define LAUNCHER_PAYLOAD_TYPE zip
#define LAUNCHER_PAYLOAD_TYPE_NAME "zip"

/* The string table holds each setting as text, in no language of its own (language 0):
   - a name or a text as it is;
   - a Choice or a Switch as one of its words: "on" or "off", "launcher" or "application";
   - an empty value (a LineOrEmpty setting left empty on purpose) as one zero unit (U+0000): the
     table cannot tell an empty string from a missing one, and a missing string stands for the
     default;
   - a missing string, or one that breaks its setting's rule, as the default. */

/* The manifest (RT_MANIFEST, id 1): its requestedExecutionLevel element asks for one of these
   levels, the first one unless the build or the packer chose another (resources/launcher.manifest
   is the manifest of a launcher built here). The level is no setting of the string table: the
   system reads it before the launcher runs. */
#define LAUNCHER_MANIFEST_ID 1
#define LAUNCHER_EXECUTION_LEVELS "requireAdministrator|highestAvailable|asInvoker"

#endif
