/* Reads message files with GMime and prints what it finds, as JSON:
 *   {"FILE": {"subject": ..., "message_id": ..., "from": [[name, addr]...],
 *             "to": [...], "cc": [...], "content_type": ...,
 *             "parts": [{"content_type", "filename", "charset", "size",
 *                        "sha256"}...]}, ...}
 * Part contents are decoded by GMime (transfer encoding removed) before
 * they are hashed. Usage: gmime_check FILE...
 */
#include <gmime/gmime.h>

#include <fcntl.h>
#include <stdio.h>
#include <string.h>

static void json_string(const char *s)
{
    if (!s) {
        fputs("null", stdout);
        return;
    }
    putchar('"');
    for (const unsigned char *p = (const unsigned char *) s; *p; ++p) {
        if (*p == '"' || *p == '\\')
            printf("\\%c", *p);
        else if (*p < 0x20)
            printf("\\u%04x", *p);
        else
            putchar(*p);
    }
    putchar('"');
}

static void addresses(GMimeMessage *m, GMimeAddressType type)
{
    InternetAddressList *list = g_mime_message_get_addresses(m, type);
    putchar('[');
    int n = list ? internet_address_list_length(list) : 0;
    int first = 1;
    for (int i = 0; i < n; ++i) {
        InternetAddress *a = internet_address_list_get_address(list, i);
        if (!INTERNET_ADDRESS_IS_MAILBOX(a))
            continue;
        if (!first)
            putchar(',');
        first = 0;
        putchar('[');
        json_string(internet_address_get_name(a));
        putchar(',');
        json_string(internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(a)));
        putchar(']');
    }
    putchar(']');
}

struct walk {
    int first;
};

static void part_record(GMimeObject *parent, GMimeObject *part, gpointer data)
{
    struct walk *w = data;
    (void) parent;
    if (!GMIME_IS_PART(part))
        return;
    GMimeContentType *ct = g_mime_object_get_content_type(part);
    char *type = g_mime_content_type_get_mime_type(ct);
    GMimeStream *mem = g_mime_stream_mem_new();
    GMimeDataWrapper *content = g_mime_part_get_content(GMIME_PART(part));
    if (content)
        g_mime_data_wrapper_write_to_stream(content, mem);
    GByteArray *bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(mem));
    char *sum = g_compute_checksum_for_data(G_CHECKSUM_SHA256, bytes->data, bytes->len);
    if (!w->first)
        putchar(',');
    w->first = 0;
    fputs("{\"content_type\":", stdout);
    json_string(type);
    fputs(",\"filename\":", stdout);
    json_string(g_mime_part_get_filename(GMIME_PART(part)));
    fputs(",\"charset\":", stdout);
    json_string(g_mime_content_type_get_parameter(ct, "charset"));
    printf(",\"size\":%u,\"sha256\":\"%s\"}", bytes->len, sum);
    g_free(sum);
    g_free(type);
    g_object_unref(mem);
}

int main(int argc, char **argv)
{
    g_mime_init();
    putchar('{');
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            putchar(',');
        json_string(argv[i]);
        putchar(':');
        GMimeStream *stream = g_mime_stream_fs_open(argv[i], O_RDONLY, 0644, NULL);
        if (!stream) {
            fputs("{\"error\":\"cannot open\"}", stdout);
            continue;
        }
        GMimeParser *parser = g_mime_parser_new_with_stream(stream);
        GMimeMessage *m = g_mime_parser_construct_message(parser, NULL);
        if (!m) {
            fputs("{\"error\":\"not a message\"}", stdout);
        } else {
            fputs("{\"subject\":", stdout);
            json_string(g_mime_message_get_subject(m));
            fputs(",\"message_id\":", stdout);
            json_string(g_mime_message_get_message_id(m));
            fputs(",\"from\":", stdout);
            addresses(m, GMIME_ADDRESS_TYPE_FROM);
            fputs(",\"to\":", stdout);
            addresses(m, GMIME_ADDRESS_TYPE_TO);
            fputs(",\"cc\":", stdout);
            addresses(m, GMIME_ADDRESS_TYPE_CC);
            GMimeObject *body = g_mime_message_get_mime_part(m);
            char *type = body ? g_mime_content_type_get_mime_type(g_mime_object_get_content_type(body)) : NULL;
            fputs(",\"content_type\":", stdout);
            json_string(type);
            g_free(type);
            fputs(",\"parts\":[", stdout);
            struct walk w = {1};
            g_mime_message_foreach(m, part_record, &w);
            fputs("]}", stdout);
            g_object_unref(m);
        }
        g_object_unref(parser);
        g_object_unref(stream);
    }
    puts("}");
    g_mime_shutdown();
    return 0;
}
